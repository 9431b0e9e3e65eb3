#include "alerts.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace zorbce {
namespace {

struct Announcement {
    unsigned short alertId;
    unsigned long family;
};

// Announcements kept per handle until taken; the oldest are dropped beyond this.
constexpr size_t kMaxQueued = 1024;

struct AlertBoard {
    std::mutex lock;
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
        std::lock_guard guard(b.lock);
        auto [first, last] = b.handlesOf.equal_range(printer);
        for (auto it = first; it != last; ++it)
            if (it->second == handle) {
                b.handlesOf.erase(it);
                break;
            }
        b.queues.erase(handle);
    }
    b.arrived.notify_all();   // waiters on the closed handle return
}

}  // namespace zorbce

void BceNotifyAlert(const BcePrinter* printer, unsigned short alertId, unsigned long family) {
    auto& b = zorbce::board();
    {
        std::lock_guard guard(b.lock);
        auto [first, last] = b.handlesOf.equal_range(printer);
        for (auto it = first; it != last; ++it) {
            auto& q = b.queues[it->second];
            if (q.size() >= zorbce::kMaxQueued) q.pop_front();
            q.push_back({alertId, family});
        }
    }
    b.arrived.notify_all();
}

long BceWaitAlert(unsigned short handle, unsigned long timeoutMs, unsigned short* alertId, unsigned long* family) {
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
}
