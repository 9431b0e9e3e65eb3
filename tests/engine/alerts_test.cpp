#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;

TEST(EngineAlerts, AnnouncementsReachEveryHandleOfThePrinterInOrder) {
    auto printer = std::make_shared<ScriptedPrinter>();
    unsigned short h1, h2;
    ASSERT_EQ(BceAttachPrinter(printer, &h1), 0);
    ASSERT_EQ(BceAttachPrinter(printer, &h2), 0);
    BceNotifyAlert(printer.get(), 17, 0x5F4);
    BceNotifyAlert(printer.get(), 18, 0x600);
    unsigned short id = 0;
    unsigned long family = 0;
    for (unsigned short h : {h1, h2}) {
        ASSERT_EQ(BceWaitAlert(h, 0, &id, &family), 0);
        EXPECT_EQ(std::tuple(id, family), std::tuple(17, 0x5F4ul));
        ASSERT_EQ(BceWaitAlert(h, 0, &id, &family), 0);
        EXPECT_EQ(id, 18);
        EXPECT_EQ(BceWaitAlert(h, 10, &id, &family), BCE_E_NO_ALERT);
    }

    // A handle with a callback gets its announcements there and not queued;
    // a null callback restores the queue, and a closed handle has no callback.
    struct Seen {
        std::vector<std::tuple<unsigned short, unsigned short, unsigned long>> calls;
        static void on(void* self, unsigned short h, unsigned short a, unsigned long f) {
            static_cast<Seen*>(self)->calls.emplace_back(h, a, f);
        }
    } seen;
    ASSERT_EQ(BceSetAlertCallback(h1, &Seen::on, &seen), 0);
    BceNotifyAlert(printer.get(), 19, 0x601);
    EXPECT_EQ(seen.calls, (decltype(seen.calls){{h1, 19, 0x601}}));
    EXPECT_EQ(BceWaitAlert(h1, 0, &id, &family), BCE_E_NO_ALERT);
    EXPECT_EQ(BceWaitAlert(h2, 0, &id, &family), 0);
    ASSERT_EQ(BceSetAlertCallback(h1, nullptr, nullptr), 0);
    BceNotifyAlert(printer.get(), 20, 0x601);
    EXPECT_TRUE(seen.calls.size() == 1u && BceWaitAlert(h1, 0, &id, &family) == 0);
    BceClosePrinter(h1);
    BceClosePrinter(h2);
    BceNotifyAlert(printer.get(), 21, 0x601);   // reaches no closed handle
    EXPECT_EQ(std::pair(BceWaitAlert(h1, 0, &id, &family), BceSetAlertCallback(h1, &Seen::on, &seen)),
              std::pair(long{BCE_E_BAD_HANDLE}, long{BCE_E_BAD_HANDLE}));
}

TEST(EngineAlerts, WaiterWakesForAnAlertAndForAClose) {
    AttachedPrinter a;
    unsigned short id = 0;
    unsigned long family = 0;
    std::thread notifier([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        BceNotifyAlert(a.printer.get(), 5, 0x5F7);
    });
    EXPECT_TRUE(BceWaitAlert(a.handle, 5000, &id, &family) == 0 && id == 5);
    notifier.join();

    std::thread closer([h = a.handle] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        BceClosePrinter(h);
    });
    EXPECT_EQ(BceWaitAlert(a.handle, 5000, &id, &family), BCE_E_BAD_HANDLE);
    closer.join();
}
