#include "gateway.h"

#include <pthread.h>

#include <cstdlib>
#include <string>

#include <asio/error.hpp>

#include "kvprtobj/zorbce.h"
#include "wire/socket.h"

namespace kvnet {
namespace {
thread_local bool loopThread = false;
}

namespace {
size_t slotLimitFromEnvironment() {
    const char* text = std::getenv("KVPRTOBJ_NET_MAX_SOCKETS");
    if (text == nullptr) return Gateway::kDefaultSlots;
    char* end = nullptr;
    unsigned long n = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && n >= 1 && n <= 65536 ? n : Gateway::kDefaultSlots;
}
}  // namespace

Gateway::Gateway() : m_guard(asio::make_work_guard(m_context)), m_slotLimit(slotLimitFromEnvironment()) {
    m_thread = std::thread([this] {
        loopThread = true;
        pthread_setname_np(pthread_self(), "kvprtnet");
        for (;;) {
            try {
                m_context.run();
                return;
            } catch (...) {   // a handler's failure ends that handler, not the loop
            }
        }
    });
}

Gateway::~Gateway() = default;

// The gateway is never destroyed: the loop runs until the process ends, and
// what its handlers use stays. Its exit handler stops the loop before the
// static objects made before the gateway (asio's and the C++ library's) go.
Gateway& Gateway::instance() {
    static Gateway* gateway = [] {
        auto* g = new Gateway;
        std::atexit([] { instance().stop(); });
        return g;
    }();
    return *gateway;
}

void Gateway::stop() {
    m_guard.reset();
    m_context.stop();
    if (m_thread.joinable() && !onThread()) m_thread.join();
}

bool Gateway::onThread() { return loopThread; }

void Gateway::acquireSlot(std::function<void()> granted) {
    if (m_slotsInUse < m_slotLimit && m_slotWaiters.empty()) {
        ++m_slotsInUse;
        granted();
        return;
    }
    m_slotWaiters.push_back(std::move(granted));
}

void Gateway::releaseSlot() {
    if (m_slotWaiters.empty()) {
        if (m_slotsInUse > 0) --m_slotsInUse;
        return;
    }
    // The slot passes to the next waiter, after the releasing handler returns.
    auto next = std::move(m_slotWaiters.front());
    m_slotWaiters.pop_front();
    post(std::move(next));
}

long unreachableResult(int error) {
    return kvwire::outOfResources(error) ? BCE_E_NO_RESOURCES : BCE_E_CHANNEL_DOWN;
}

// asio says errno values in a category of its own (socket calls, and lookups
// that failed with EAI_SYSTEM or EAI_MEMORY).
long unreachableResult(const std::error_code& error) {
    const bool errnoValue = error.category() == asio::error::get_system_category();
    return errnoValue ? unreachableResult(error.value()) : BCE_E_CHANNEL_DOWN;
}

}  // namespace kvnet
