#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;

TEST(EngineHandles, CallsRouteToThePrinterOfTheirHandle) {
    AttachedPrinter a, b;
    ASSERT_NE(a.handle, b.handle);
    a->answer(0x10, Bytes{0xAA});
    b->answer(0x10, Bytes{0xBB});
    unsigned char buf[16];
    unsigned long len = sizeof buf;
    ASSERT_EQ(BceSendBidi(3, b.handle, 0x02, 0x10, buf, &len, "\x01", 1), 0);
    auto sent = b->lastRequest();
    EXPECT_EQ(std::tuple(buf[1], a->requestCount(), sent.appId, sent.netType, sent.data, sent.capacity),
              std::tuple(0xBB, 0u, short(3), 0x02u, ByteVec{0x01}, sizeof buf));
    a->answer(0x11, fail(BCE_E_INVALID));   // an asynchronous failure comes without bytes
    std::tuple<long, const void*, unsigned long> failed;
    auto record = [](void* c, long rc, const void* d, unsigned long n) { *static_cast<decltype(failed)*>(c) = {rc, d, n}; };
    ASSERT_EQ(BceSendBidiAsync(0, a.handle, 0, 0x11, nullptr, 0, 16, record, &failed), 0);
    EXPECT_EQ(failed, std::tuple(long{BCE_E_INVALID}, nullptr, 0ul));
}

// Every call on a closed handle: the C-boundary test, which closes its printer.
TEST(EngineHandles, UnknownHandlesAndPrintersAreRefused) {
    unsigned short handle;
    EXPECT_EQ(BceClosePrinter(0), BCE_E_BAD_HANDLE);
    EXPECT_EQ(BceAttachPrinter(nullptr, &handle), BCE_E_INVALID);   // nothing to attach
    for (const char* uri : {"lpd://printer", static_cast<const char*>(nullptr)})
        EXPECT_EQ(BceOpenPrinter(uri, &handle), BCE_E_BAD_URI) << (uri ? uri : "null");
}

// Callers racing a close get a reply or a bad-handle result, never a crash.
TEST(EngineHandles, CloseWhileOtherThreadsCallIsSafe) {
    auto printer = std::make_shared<ScriptedPrinter>();
    printer->setDefault(reply(Bytes{1, 2, 3}));
    unsigned short handle;
    ASSERT_EQ(BceAttachPrinter(printer, &handle), 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            while (!stop) {
                unsigned char buf[8];
                unsigned long len = sizeof buf;
                long rc = BceSendBidi(0, handle, 0, 1, buf, &len, nullptr, 0);
                if (rc != 0 && rc != BCE_E_BAD_HANDLE) ADD_FAILURE() << rc;
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(BceClosePrinter(handle), 0);
    stop = true;
    for (auto& th : callers) th.join();
}

// Handles run 1..65535 round-robin: with all taken the next attach is refused,
// and a closed handle is the one handed out next.
TEST(EngineHandles, EveryHandleOnceThenTheClosedOne) {
    std::vector<unsigned short> taken;
    unsigned short handle = 0;
    while (BceAttachPrinter(std::make_shared<ScriptedPrinter>(), &handle) == BCE_OK) taken.push_back(handle);
    EXPECT_EQ(std::count(taken.begin(), taken.end(), 0), 0);
    EXPECT_GT(taken.size(), 65000u);
    ASSERT_EQ(BceClosePrinter(taken[7]), BCE_OK);
    EXPECT_EQ(BceAttachPrinter(std::make_shared<ScriptedPrinter>(), &handle), BCE_OK);
    EXPECT_EQ(handle, taken[7]);
    for (unsigned short h : taken) BceClosePrinter(h);
}

// A URI as it may be shown: secret-bearing values hidden, the rest as written;
// the buffer never overflows and the whole length is reported.
TEST(EngineHandles, UrisAreShownWithoutTheirSecrets) {
    const std::pair<const char*, const char*> cases[] = {
        {"net://h?community=s3cret&timeout=100", "net://h?community=***&timeout=100"},
        {"net://h?auth=office", "net://h?auth=***"},
        {"net://u:pw@h/?x=1&community=a&community=b#f", "net://***@h/?x=1&community=***&community=***#f"},
        {"net://h?communityx=1&auth", "net://h?communityx=1&auth"},
        {"tcp://127.0.0.1:9/p?timeout=5", "tcp://127.0.0.1:9/p?timeout=5"},
        {"sim:/tmp/a b.json", "sim:/tmp/a b.json"},
        {"", ""},
    };
    for (auto [uri, shown] : cases) {
        char buffer[128];
        EXPECT_EQ(BceRedactUri(uri, buffer, sizeof buffer), std::strlen(shown)) << uri;
        EXPECT_STREQ(buffer, shown);
    }
    char small[8];
    EXPECT_EQ(BceRedactUri("net://h?auth=office", small, sizeof small), 16u);
    EXPECT_STREQ(small, "net://h");
    EXPECT_EQ(BceRedactUri("net://h", nullptr, 0), 7u);
}
