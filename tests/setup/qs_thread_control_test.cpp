// The counting-semaphore control and the Quick Setup worker's control object.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kvprtobj/kvprtobj.h"

namespace {

struct OpenControl : KVThreadControl {
    using KVThreadControl::KVThreadControl;
    using KVThreadControl::m_dwMaxCount;
    using KVThreadControl::m_hSemaphore;
};

// Whether lock(1) on another thread gets through within 100 ms.
bool lockGetsThrough(KVThreadControl& control) {
    std::atomic<bool> got{false};
    std::thread t([&] {
        control.lock(1);
        got = true;
        control.unlock(1);
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (!got && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    bool result = got;
    if (!result) control.unlock(1);   // let the thread finish
    t.join();
    if (!result) control.lock(1);     // take back the unit lent to it
    return result;
}

}  // namespace

TEST(ThreadControl, UnitsAreBoundedByTheMaximum) {
    OpenControl control(2);
    EXPECT_EQ(control.m_dwMaxCount, 2u);
    control.lock(5);   // takes both units, not five
    EXPECT_FALSE(lockGetsThrough(control));
    control.unlock(9);   // gives back both
    EXPECT_TRUE(lockGetsThrough(control));
    control.lock(1);
    EXPECT_TRUE(lockGetsThrough(control));
    control.unlock(1);
}

TEST(ThreadControl, NoSemaphoreMeansNoLocking) {
    OpenControl control(0);
    EXPECT_EQ(control.m_hSemaphore, nullptr);
    EXPECT_EQ(control.m_dwMaxCount, 0u);
    control.lock(3);
    control.unlock(3);
    OpenControl single;
    EXPECT_EQ(single.m_dwMaxCount, 1u);
}

TEST(QSThreadControl, KeepsTheHostsValuesAndGuardsTheAction) {
    KVPrtObj::OMVARIABLE vars[2];
    KVPrtObj printer;
    HWND window = CreateMessageWindow(nullptr);
    KVQSThreadControl control("text", vars, 2, &printer, 7, window, 42, KVQSThreadControl::KVTA_NONE);
    EXPECT_EQ(control.m_strText, "text");
    EXPECT_EQ(control.m_pVariables, vars);
    EXPECT_EQ(control.m_uVariableCount, 2u);
    EXPECT_EQ(control.m_pPrtObj, &printer);
    EXPECT_EQ(control.m_nValue, 7);
    EXPECT_EQ(control.m_hWnd, window);
    EXPECT_EQ(control.m_uWindowParam, 42u);
    KVQSThreadControl noWindow("", nullptr, 0, nullptr, 0, nullptr, 42, static_cast<KVQSThreadControl::KVThreadAction>(5));
    EXPECT_EQ(noWindow.m_uWindowParam, 0u);
    EXPECT_EQ(noWindow.getKVThreadAction(), 5);

    // The action is read under the semaphore: a reader waits while it is held.
    control.setKVThreadAction(KVQSThreadControl::KVTA_STOP);
    control.lock(1);
    std::atomic<bool> read{false};
    std::thread reader([&] {
        EXPECT_EQ(control.getKVThreadAction(), KVQSThreadControl::KVTA_STOP);
        read = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(read.load());
    control.unlock(1);
    reader.join();
    EXPECT_TRUE(read.load());
    DestroyWindow(window);
}
