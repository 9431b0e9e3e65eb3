// The backend's one thread. Every net:// printer of the process is driven
// from it, whatever their number: SNMP sessions, IPP connections, timers and
// trap datagrams are all waited on by one asio event loop. It starts with the
// first net:// printer and lives until the process exits (an exit handler
// stops it). Objects its handlers use until then must outlive static
// destruction: the backend's function-local statics are never destroyed.
//
// Work of the loop runs on the loop's thread only. A synchronous engine call
// made on that thread (from an asynchronous completion) must not wait for
// the loop: the printer answers it with -3 (onThread()).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <system_error>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace kvnet {

class Gateway {
public:
    static Gateway& instance();

    asio::io_context& context() { return m_context; }
    // True on the loop's thread.
    static bool onThread();
    template <class Work>
    void post(Work&& work) {
        asio::post(m_context, std::forward<Work>(work));
    }

    // The backend's sockets are bounded process-wide: an SNMP session or an
    // IPP connection holds a slot while it is open. acquireSlot runs `granted`
    // on the loop once a slot is free (at once when one is), in the order
    // asked; releaseSlot gives one back. Loop thread only.
    void acquireSlot(std::function<void()> granted);
    void releaseSlot();
    size_t slotsInUse() const { return m_slotsInUse; }
    // True while someone waits for a slot (idle connections then close at once).
    bool slotsContended() const { return !m_slotWaiters.empty(); }
    // KVPRTOBJ_NET_MAX_SOCKETS, else kDefaultSlots.
    size_t slotLimit() const { return m_slotLimit; }
    static constexpr size_t kDefaultSlots = 256;

    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

private:
    Gateway();
    void stop();
    ~Gateway();
    asio::io_context m_context{1};
    asio::executor_work_guard<asio::io_context::executor_type> m_guard;
    std::thread m_thread;
    size_t m_slotLimit;
    size_t m_slotsInUse = 0;
    std::deque<std::function<void()>> m_slotWaiters;
};

// The result of a socket that could not be opened, connected or watched, or
// of a name that could not be looked up, for the system's `error`:
// BCE_E_NO_RESOURCES when this process or the system is out of descriptors,
// socket buffers or memory (no printer was tried then, and none can be until
// some are freed), BCE_E_CHANNEL_DOWN otherwise.
long unreachableResult(int error);
long unreachableResult(const std::error_code& error);

}  // namespace kvnet
