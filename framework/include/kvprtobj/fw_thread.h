// Threads and semaphores of the framework stand-in.
#pragma once

#include <memory>

#include "kvprtobj/fw_base.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// A counting semaphore with a maximum. Creation fails (null) when the initial
// count is negative or above the maximum, or the maximum is below 1.
KVPO_API HANDLE CreateSemaphoreA(void* attributes, long initialCount, long maximumCount, const char* name);
KVPO_API DWORD WaitForSingleObject(HANDLE semaphore, DWORD milliseconds);
// Adds `count` units; FALSE (and no change) when that would pass the maximum.
KVPO_API BOOL ReleaseSemaphore(HANDLE semaphore, long count, long* previousCount);
KVPO_API BOOL CloseHandle(HANDLE semaphore);

// Worker threads. AfxBeginThread starts `proc(param)` on a new thread; with
// CREATE_SUSPENDED the thread waits behind a gate until ResumeThread. The thread
// object deletes itself when the procedure returns. A start that fails is
// reported by a null result, never by an exception.
using AFX_THREADPROC = unsigned (*)(void*);
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr int THREAD_PRIORITY_NORMAL = 0;

class KVPO_API CWinThread {
public:
    virtual ~CWinThread();
    // Opens the gate of a suspended thread; returns the previous suspend count.
    DWORD ResumeThread();

private:
    friend KVPO_API CWinThread* AfxBeginThread(AFX_THREADPROC, void*, int, unsigned, DWORD);
    CWinThread();
    struct Gate;
    std::shared_ptr<Gate> m_gate;
};

KVPO_API CWinThread* AfxBeginThread(AFX_THREADPROC proc, void* param, int priority = THREAD_PRIORITY_NORMAL,
                                    unsigned stackSize = 0, DWORD createFlags = 0);

// Test facility: the next `count` calls of AfxBeginThread fail as if the system
// had no resources left for a thread.
KVPO_API void AfxFailThreadStarts(int count);
