#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "kvprtobj/kvprtobj.h"

namespace {

struct OpenControl : KVThreadControl {
    using KVThreadControl::KVThreadControl;
    using KVThreadControl::m_dwMaxCount;
};

// Whether `take` on another thread gets through while the test thread waits
// 50 ms; `release` then lets it through in any case.
template <typename Take, typename Release>
bool passesWhileHeld(Take take, Release release) {
    std::atomic<bool> through{false};
    std::thread t([&] {
        take();
        through = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bool early = through;
    release();
    t.join();
    return early;
}

}  // namespace

TEST(ThreadControl, UnitsAreBoundedByTheMaximum) {
    OpenControl control(2);
    control.lock(5);   // takes both units, not five
    EXPECT_FALSE(passesWhileHeld([&] { control.lock(1); }, [&] { control.unlock(9); }));   // gives back two
    control.unlock(1);
    control.lock(1);
    EXPECT_TRUE(passesWhileHeld([&] { control.lock(1); }, [] {}));

    OpenControl none(0);   // no semaphore: nothing to wait for; the default is one unit
    none.lock(3);
    none.lock(3);
    EXPECT_EQ(std::tuple(control.m_dwMaxCount, none.m_dwMaxCount, OpenControl().m_dwMaxCount), std::tuple(2u, 0u, 1u));
}

TEST(QSThreadControl, WindowParameterOnlyWithAWindowAndTheActionUnderTheSemaphore) {
    KVPrtObj::OMVARIABLE vars[2];
    KVPrtObj printer;
    HWND window = CreateMessageWindow(nullptr);
    KVQSThreadControl control("text", vars, 2, &printer, 7, window, 42, KVQSThreadControl::KVTA_NONE);
    // Without a window the window parameter is not kept.
    KVQSThreadControl noWindow("", nullptr, 0, nullptr, 0, nullptr, 42, KVQSThreadControl::KVThreadAction(5));
    EXPECT_EQ(std::tuple(control.m_uWindowParam, noWindow.m_uWindowParam, int(noWindow.getKVThreadAction())),
              std::tuple(42u, 0u, 5));

    // The action is read under the semaphore: a reader waits while it is held.
    control.setKVThreadAction(KVQSThreadControl::KVTA_STOP);
    control.lock(1);
    EXPECT_FALSE(passesWhileHeld([&] { EXPECT_EQ(control.getKVThreadAction(), KVQSThreadControl::KVTA_STOP); },
                                 [&] { control.unlock(1); }));
    DestroyWindow(window);
}
