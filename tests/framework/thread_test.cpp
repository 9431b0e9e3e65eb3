#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <utility>

#include "kvprtobj/kvprtobj.h"

TEST(Semaphores, CreationChecksCountsAndReleaseTheMaximum) {
    const std::pair<long, long> refused[] = {{0, 0}, {2, 1}, {-1, 1}};
    for (auto [initial, maximum] : refused)
        EXPECT_EQ(CreateSemaphoreA(nullptr, initial, maximum, nullptr), nullptr) << initial << "/" << maximum;
    HANDLE s = CreateSemaphoreA(nullptr, 2, 3, nullptr);
    ASSERT_NE(s, nullptr);
    for (DWORD wait : {WAIT_OBJECT_0, WAIT_OBJECT_0, WAIT_TIMEOUT}) EXPECT_EQ(WaitForSingleObject(s, 10), wait);
    long previous = -1;
    EXPECT_FALSE(ReleaseSemaphore(s, 4, &previous));   // would pass the maximum
    EXPECT_TRUE(ReleaseSemaphore(s, 3, &previous) && previous == 0);
    EXPECT_FALSE(ReleaseSemaphore(s, 1, nullptr));
    CloseHandle(s);
}

namespace {
std::atomic<int> g_ran{0};
HANDLE g_done = nullptr;
unsigned workerProc(void* param) {
    g_ran.store(*static_cast<int*>(param));
    ReleaseSemaphore(g_done, 1, nullptr);
    return 0;
}
}  // namespace

TEST(WorkerThreads, SuspendedThreadRunsOnlyAfterResumeAndAFailedStartIsReported) {
    g_ran = 0;
    g_done = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    int value = 42;
    CWinThread* t = AfxBeginThread(workerProc, &value, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(WaitForSingleObject(g_done, 50) == WAIT_TIMEOUT && g_ran == 0);
    EXPECT_EQ(t->ResumeThread(), 1u);
    EXPECT_TRUE(WaitForSingleObject(g_done, 5000) == WAIT_OBJECT_0 && g_ran == 42);
    CloseHandle(g_done);

    AfxFailThreadStarts(1);   // a failed start is reported, not thrown
    EXPECT_EQ(AfxBeginThread(workerProc, &value, 0, 0, CREATE_SUSPENDED), nullptr);
    g_done = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    ASSERT_NE(AfxBeginThread(workerProc, &value), nullptr);   // the next start works again
    EXPECT_EQ(WaitForSingleObject(g_done, 5000), WAIT_OBJECT_0);
    CloseHandle(g_done);
}
