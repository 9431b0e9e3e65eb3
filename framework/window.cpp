#include "kvprtobj/fw_window.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct ThreadQueue {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<MSG> messages;
};

struct WindowRecord {
    WNDPROC proc;
    void* userData;
    std::shared_ptr<ThreadQueue> owner;
};

struct Registry {
    std::mutex lock;
    std::uintptr_t nextId = 0x10000;
    std::unordered_map<std::uintptr_t, WindowRecord> windows;
};

Registry& registry() {
    static Registry* r = new Registry;   // never destroyed: threads may post during exit
    return *r;
}

std::shared_ptr<ThreadQueue>& myQueue() {
    thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    return queue;
}

std::uintptr_t idOf(HWND w) { return reinterpret_cast<std::uintptr_t>(w); }

bool lookup(HWND w, WindowRecord* out) {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    auto it = r.windows.find(idOf(w));
    if (it == r.windows.end()) return false;
    if (out) *out = it->second;
    return true;
}

bool matches(const MSG& m, HWND filter, UINT min, UINT max) {
    if (filter != nullptr && m.hwnd != filter) return false;
    if (min == 0 && max == 0) return true;
    return m.message >= min && m.message <= max;
}

// Takes the first matching message from the caller's queue; the queue is locked.
bool takeLocked(ThreadQueue& q, MSG* msg, HWND filter, UINT min, UINT max, bool remove) {
    for (auto it = q.messages.begin(); it != q.messages.end(); ++it) {
        if (!matches(*it, filter, min, max)) continue;
        *msg = *it;
        if (remove) q.messages.erase(it);
        return true;
    }
    return false;
}

void push(ThreadQueue& q, const MSG& m) {
    {
        std::lock_guard guard(q.lock);
        q.messages.push_back(m);
    }
    q.arrived.notify_all();
}

}  // namespace

HWND CreateMessageWindow(WNDPROC proc, void* userData) {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    std::uintptr_t id = r.nextId++;
    r.windows.emplace(id, WindowRecord{proc, userData, myQueue()});
    return reinterpret_cast<HWND>(id);
}

BOOL DestroyWindow(HWND window) {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    return r.windows.erase(idOf(window)) ? TRUE : FALSE;
}

BOOL IsWindow(HWND window) { return window != nullptr && lookup(window, nullptr) ? TRUE : FALSE; }

void* GetWindowUserData(HWND window) {
    WindowRecord rec;
    return lookup(window, &rec) ? rec.userData : nullptr;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord rec;
    if (window == nullptr || !lookup(window, &rec)) return FALSE;
    push(*rec.owner, MSG{window, message, wParam, lParam});
    return TRUE;
}

void PostQuitMessage(int exitCode) { push(*myQueue(), MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0}); }

BOOL PeekMessageA(MSG* msg, HWND window, UINT min, UINT max, UINT removeFlags) {
    auto& q = *myQueue();
    std::lock_guard guard(q.lock);
    return takeLocked(q, msg, window, min, max, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND window, UINT min, UINT max) {
    auto& q = *myQueue();
    std::unique_lock guard(q.lock);
    q.arrived.wait(guard, [&] { return takeLocked(q, msg, window, min, max, true); });
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

int GetMessageTimeout(MSG* msg, HWND window, unsigned long timeoutMs) {
    auto& q = *myQueue();
    std::unique_lock guard(q.lock);
    bool got = q.arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return takeLocked(q, msg, window, 0, 0, true); });
    if (!got) return -1;
    return msg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    WindowRecord rec;
    if (msg == nullptr || !lookup(msg->hwnd, &rec) || rec.proc == nullptr) return 0;
    return rec.proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
