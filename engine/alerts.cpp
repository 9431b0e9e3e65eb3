#include "alerts.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "c_boundary.h"

namespace zorbce {
namespace {

struct Announcement {
    unsigned short alertId;
    unsigned long family;
};

// Announcements kept per handle until taken; the oldest are dropped beyond this.
constexpr size_t kMaxQueued = 1024;

struct Listener {
    BceAlertCallback callback;
    void* context;
};

struct AlertBoard {
    std::mutex lock;
    std::map<unsigned short, Listener> listeners;   // handles whose announcements go to a callback
    // Held while callbacks run, and taken before `lock` by whoever changes or
    // removes a listener: once that returns, its callback is not running and
    // will not run. Recursive, so that a callback may change listeners.
    std::recursive_mutex dispatching;
    std::condition_variable arrived;
    std::multimap<const BcePrinter*, unsigned short> handlesOf;
    std::map<unsigned short, std::deque<Announcement>> queues;
};

AlertBoard& board() {
    static AlertBoard* b = new AlertBoard;
    return *b;
}

}  // namespace

void registerAlertHandle(const BcePrinter* printer, unsigned short handle) {
    auto& b = board();
    std::lock_guard guard(b.lock);
    b.handlesOf.emplace(printer, handle);
    b.queues[handle].clear();
}

void unregisterAlertHandle(const BcePrinter* printer, unsigned short handle) {
    auto& b = board();
    {
        std::lock_guard dispatch(b.dispatching);
        std::lock_guard guard(b.lock);
        auto [first, last] = b.handlesOf.equal_range(printer);
        for (auto it = first; it != last; ++it)
            if (it->second == handle) {
                b.handlesOf.erase(it);
                break;
            }
        b.queues.erase(handle);
        b.listeners.erase(handle);
    }
    b.arrived.notify_all();   // waiters on the closed handle return
}

}  // namespace zorbce

void BceNotifyAlert(const BcePrinter* printer, unsigned short alertId, unsigned long family) {
    kvpo::cBoundary([&] {
        auto& b = zorbce::board();
        std::vector<std::pair<unsigned short, zorbce::Listener>> calls;
        std::lock_guard dispatch(b.dispatching);
        try {
            std::lock_guard guard(b.lock);
            auto [first, last] = b.handlesOf.equal_range(printer);
            for (auto it = first; it != last; ++it) {
                if (auto l = b.listeners.find(it->second); l != b.listeners.end()) {
                    calls.emplace_back(it->second, l->second);
                    continue;
                }
                auto& q = b.queues[it->second];
                if (q.size() >= zorbce::kMaxQueued) q.pop_front();
                q.push_back({alertId, family});
            }
        } catch (const std::bad_alloc&) {
            // The announcement is lost for the handles not reached; the alert stays readable.
        }
        b.arrived.notify_all();
        for (auto& [handle, l] : calls) l.callback(l.context, handle, alertId, family);
    });
}

long BceSetAlertCallback(unsigned short handle, BceAlertCallback callback, void* context) {
    return kvpo::cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto& b = zorbce::board();
        std::lock_guard dispatch(b.dispatching);
        std::lock_guard guard(b.lock);
        if (!b.queues.count(handle)) return BCE_E_BAD_HANDLE;
        if (callback)
            b.listeners[handle] = {callback, context};
        else
            b.listeners.erase(handle);
        return BCE_OK;
    });
}

long BceWaitAlert(unsigned short handle, unsigned long timeoutMs, unsigned short* alertId, unsigned long* family) {
    return kvpo::cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto& b = zorbce::board();
        std::unique_lock guard(b.lock);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto it = b.queues.find(handle);
            if (it == b.queues.end()) return BCE_E_BAD_HANDLE;
            if (!it->second.empty()) {
                auto a = it->second.front();
                it->second.pop_front();
                if (alertId) *alertId = a.alertId;
                if (family) *family = a.family;
                return BCE_OK;
            }
            if (b.arrived.wait_until(guard, deadline) == std::cv_status::timeout) {
                it = b.queues.find(handle);
                if (it == b.queues.end()) return BCE_E_BAD_HANDLE;
                if (it->second.empty()) return BCE_E_NO_ALERT;
            }
        }
    });
}
