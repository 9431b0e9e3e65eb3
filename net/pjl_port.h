// PJL on one printer's print port, on the backend's loop (gateway.h). Asked
// on demand, one exchange at a time (print ports often serve a single host):
// send one block of commands, read the replies it asks for. A connection
// holds a gateway slot while it is open. One time-out bounds a whole
// exchange, waiting for a slot and connecting included; the codec's reader
// bounds each reply, and part of a reply that waits longer than the time-out
// drops its connection. What is sent is always a request the codec built,
// so no byte of it can be printed as a page.
//
// By default each exchange has a connection of its own: connect, send, read,
// close. hold() (the URI's ustatus=device) keeps one connection open instead,
// on which the port first sends USTATUS DEVICE=ON and INFO STATUS: the status
// the printer reports (that INFO STATUS reply, then every unsolicited
// "@PJL USTATUS DEVICE" message) goes to the `pushed` callback. The on-demand
// exchanges share that connection, in turn, since many printers refuse a
// second one while one is open: an exchange is written on it once it is
// open, and its replies are told from the status messages by their command
// (no exchange asks INFO STATUS). An exchange asked while the connection is
// being opened waits for it within its time-out; one asked while the port
// waits to open it again opens it at once. A connection that closes, fails,
// sends what is not PJL, a reply beyond the bound or a malformed status, or
// leaves an exchange unanswered (its replies no longer in step) is dropped,
// `pushed` gets none (the status is unknown until the next message), and it
// is opened again after a back-off: kFirstRetry, doubled after each one that
// did not stay up kSteady, up to kLastRetry. The held connection keeps its
// gateway slot while it is open.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/steady_timer.hpp>

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
    using Pushed = std::function<void(std::optional<pjl::DeviceStatus>)>;
    static constexpr std::chrono::seconds kFirstRetry{1}, kLastRetry{60}, kSteady{30};

    static std::shared_ptr<PjlPort> create(std::string host, uint16_t port, unsigned timeoutMs) {
        return std::shared_ptr<PjlPort>(new PjlPort(std::move(host), port, timeoutMs));
    }

    // Sends `request` and reads `replies` replies; `done` is called once,
    // unless the port is closed first. Loop thread only.
    void exchange(const pjl::Request& request, size_t replies, Done done);
    // Holds a connection open for the printer's status, from now until
    // close(). Loop thread only.
    void hold(Pushed pushed);
    // Drops every exchange without calling back, and the connection. Loop thread only.
    void close();

private:
    struct Link;
    struct Queued {
        std::string bytes;
        size_t replies;
        Done done;
    };
    struct Current {
        Queued job;
        std::vector<std::string> replies;
        bool sent = false;
    };
    PjlPort(std::string host, uint16_t port, unsigned timeoutMs);
    void startNext();
    void send();
    // Ends the exchange in flight with `rc`.
    void finish(long rc);
    void openLink(bool held);
    // What the link tells; ignored from a link the port has let go.
    void linkOpen(const Link* link);
    void linkReply(const Link* link, std::string reply);
    void linkFailed(const Link* link, long rc);
    void dropLink(long rc);
    void push(std::optional<pjl::DeviceStatus> status);

    const std::string m_host;
    const uint16_t m_port;
    const unsigned m_timeoutMs;
    std::deque<Queued> m_queue;
    std::optional<Current> m_current;
    asio::steady_timer m_deadline;   // of the exchange in flight
    uint64_t m_exchanges = 0;        // exchanges started: a late deadline of an earlier one does nothing
    std::shared_ptr<Link> m_link;
    Pushed m_pushed;                 // set while holding
    asio::steady_timer m_retry;
    bool m_retrying = false;
    std::chrono::steady_clock::duration m_backoff = kFirstRetry;
    std::chrono::steady_clock::time_point m_linkOpened;
    bool m_closed = false;
};

}  // namespace kvnet
