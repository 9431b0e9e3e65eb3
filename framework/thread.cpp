#include "kvprtobj/fw_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Semaphore {
    std::mutex lock;
    std::condition_variable changed;
    long count;
    long maximum;
};

std::atomic<int> g_failThreadStarts{0};

}  // namespace

HANDLE CreateSemaphoreA(void*, long initialCount, long maximumCount, const char*) {
    if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount) return nullptr;
    return new Semaphore{{}, {}, initialCount, maximumCount};
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto* s = static_cast<Semaphore*>(handle);
    if (s == nullptr) return WAIT_FAILED;
    std::unique_lock guard(s->lock);
    auto ready = [s] { return s->count > 0; };
    if (milliseconds == INFINITE)
        s->changed.wait(guard, ready);
    else if (!s->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ready))
        return WAIT_TIMEOUT;
    --s->count;
    return WAIT_OBJECT_0;
}

BOOL ReleaseSemaphore(HANDLE handle, long count, long* previousCount) {
    auto* s = static_cast<Semaphore*>(handle);
    if (s == nullptr || count < 1) return FALSE;
    // Notified under the lock: a woken waiter may close the semaphore as soon
    // as it returns, and must not find this call still inside it.
    std::lock_guard guard(s->lock);
    if (count > s->maximum - s->count) return FALSE;
    if (previousCount) *previousCount = s->count;
    s->count += count;
    s->changed.notify_all();
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    delete static_cast<Semaphore*>(handle);
    return TRUE;
}

struct CWinThread::Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
};

CWinThread::CWinThread() : m_gate(std::make_shared<Gate>()) {}
CWinThread::~CWinThread() = default;

DWORD CWinThread::ResumeThread() {
    auto gate = m_gate;   // `this` may be deleted by the thread once the gate opens
    bool wasClosed;
    {
        std::lock_guard guard(gate->lock);
        wasClosed = !gate->open;
        gate->open = true;
    }
    gate->opened.notify_all();
    return wasClosed ? 1 : 0;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, void* param, int, unsigned, DWORD createFlags) {
    if (proc == nullptr) return nullptr;
    for (int n = g_failThreadStarts.load(); n > 0;)
        if (g_failThreadStarts.compare_exchange_weak(n, n - 1)) return nullptr;
    auto* thread = new (std::nothrow) CWinThread;
    if (thread == nullptr) return nullptr;
    auto gate = thread->m_gate;
    if ((createFlags & CREATE_SUSPENDED) == 0) gate->open = true;
    try {
        std::thread([thread, gate, proc, param] {
            {
                std::unique_lock guard(gate->lock);
                gate->opened.wait(guard, [&] { return gate->open; });
            }
            proc(param);
            delete thread;
        }).detach();
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void AfxFailThreadStarts(int count) { g_failThreadStarts.store(count < 0 ? 0 : count); }
