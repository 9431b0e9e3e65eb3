// PJL on one printer's print port, on the backend's loop (gateway.h). Asked
// only on demand, one exchange at a time (print ports often serve a single
// host), each on a connection of its own: connect, send one block of
// commands, read the replies it asks for, close. A connection holds a
// gateway slot while it is open. One time-out bounds a whole exchange,
// waiting for a slot and connecting included; the codec's reader bounds
// each reply. What is sent is always a request the codec built, so no byte
// of it can be printed as a page.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pjl.h"

namespace kvnet {

// rc 0 and the replies asked for; or BCE_E_INVALID (a request the codec
// refused), BCE_E_CHANNEL_DOWN or BCE_E_NO_RESOURCES (gateway.h:
// unreachableResult), BCE_E_TIMEOUT, BCE_E_CONNECTION_RESET (closed before
// every reply came), BCE_E_BAD_REPLY (a reply too long or not PJL).
struct PjlResult {
    long rc = 0;
    std::vector<std::string> replies;
};

class PjlPort : public std::enable_shared_from_this<PjlPort> {
public:
    using Done = std::function<void(PjlResult)>;
    static std::shared_ptr<PjlPort> create(std::string host, uint16_t port, unsigned timeoutMs) {
        return std::shared_ptr<PjlPort>(new PjlPort(std::move(host), port, timeoutMs));
    }

    // Sends `request` and reads `replies` replies; `done` is called once,
    // unless the port is closed first. Loop thread only.
    void exchange(const pjl::Request& request, size_t replies, Done done);
    // Drops every exchange without calling back. Loop thread only.
    void close();

private:
    struct Exchange;
    struct Queued {
        std::string bytes;
        size_t replies;
        Done done;
    };
    PjlPort(std::string host, uint16_t port, unsigned timeoutMs)
        : m_host(std::move(host)), m_port(port), m_timeoutMs(timeoutMs) {}
    void startNext();

    const std::string m_host;
    const uint16_t m_port;
    const unsigned m_timeoutMs;
    std::deque<Queued> m_queue;
    std::shared_ptr<Exchange> m_current;
    bool m_closed = false;
};

}  // namespace kvnet
