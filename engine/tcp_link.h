// One printer's connection, driven by the engine's I/O thread (io_loop.h).
//
// A link carries requests of any thread to the server and hands each reply to
// the request with its id. Requests are pipelined: any number may be in
// flight. A caller that waits for its reply writes its request itself when
// nothing is waiting to be written, so a lone request costs no hand-over on
// its way out; asynchronous requests are written by the I/O thread, those
// made together in one write. Everything else (reading, connecting,
// time-outs) happens on the I/O thread. An idle link holds a socket and this record (with a small area for
// the first bytes of each read), no buffers.
//
// States: closed (no connection), connecting (TCP connection and greeting,
// within one time-out; requests made meanwhile wait and go out after the
// greeting's answer) and open. A failure drops the connection: every request
// waiting gets the failure, and the next request connects again. When a
// connection attempt has timed out, requests during the next time-out fail
// at once with -17 instead of waiting another whole time-out.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "kvprtobj/zorbce.h"
#include "wire/frame.h"

namespace zorbce {

using Clock = std::chrono::steady_clock;

// tcp://HOST:PORT[/PRINTER][?timeout=MS]
struct TcpAddress {
    std::string host, port;
    std::string printer;     // index or name on the server; empty = the first
    int timeoutMs = 5000;    // connection (with greeting) and reply time-out
};

// A request, or a wait for the connection, in the hands of a link.
class LinkCall {
public:
    virtual ~LinkCall() = default;
    // The outcome, exactly once, on the I/O thread, no lock held: 0 with the
    // reply frame (of any type: the caller checks it), or a failure code.
    virtual void finish(long rc, kvwire::Frame& reply) = 0;

    Clock::time_point deadline;   // set by TcpLink::start
    uint32_t id = 0;              // the request id, set by TcpLink::start
    // A caller waits for this call: it writes its request itself when
    // nothing else waits to be written. The I/O thread writes the others, all
    // those made meanwhile in one go.
    bool waiting = false;
};

class TcpLink : public std::enable_shared_from_this<TcpLink> {
public:
    // `owner` is the printer whose alert notices this link announces.
    TcpLink(TcpAddress address, const BcePrinter* owner);
    ~TcpLink();
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    const TcpAddress& address() const { return m_address; }

    // Sends a request of message `type` (connecting first if need be), or,
    // with type 0, waits for the connection. 0: `call` will be finished.
    // Otherwise the outcome, and `call` will not be finished: -18 (no memory),
    // -10 (the host name does not resolve), -17 (a connection attempt timed
    // out less than a time-out ago), -20 (closed).
    long start(LinkCall* call, uint8_t type, const kvwire::Bytes& payload);
    // Takes back a call that has not been finished (its caller stops
    // waiting): true when it was still waiting, false when it is being
    // finished now.
    bool abandon(LinkCall* call);
    // Ends the link: every call waiting gets -20, and from the return on the
    // I/O thread no longer announces alerts for the owner.
    void close();

private:
    enum class State { Closed, Connecting, Open };

    // With m_lock held: a connection up or on its way, or why not.
    long prepare(std::unique_lock<std::mutex>& guard);
    // With m_lock held: the frame goes out now (`writeNow`, when nothing
    // else waits to be written) or is queued for the I/O thread.
    void send(uint8_t type, uint32_t id, const kvwire::Bytes& payload, bool writeNow);
    // With m_lock held: the deadline of a new call is watched.
    void watch();

    // I/O thread.
    void connect(uint64_t generation, size_t endpoint);
    void connected(uint64_t generation, size_t endpoint, const std::error_code& error);
    void awaitReadable(uint64_t generation);
    void received(uint64_t generation, const std::error_code& error, size_t n);
    // Adds `n` received bytes to those of an unfinished frame and takes out
    // the whole frames: 0, or -2 when the bytes are not frames.
    long take(const uint8_t* bytes, size_t n, std::vector<kvwire::Frame>& frames);
    // Handles one frame; false when it dropped the connection.
    bool handle(uint64_t generation, kvwire::Frame& frame);
    void greeted(uint64_t generation, const kvwire::Frame& frame);
    void flush(uint64_t generation);
    // With m_lock held: the earliest deadline the link watches, if any.
    std::optional<Clock::time_point> nextDeadline() const;
    void armTimer(Clock::time_point at);
    void timerFired();
    // Drops the connection of `generation` (if still current) with `rc`.
    void fail(uint64_t generation, long rc);
    // Drops the connection with m_lock held; returns the calls to finish.
    std::vector<LinkCall*> dropLocked(long rc);
    void finishAll(std::vector<LinkCall*>& calls, long rc);

    const TcpAddress m_address;
    const std::chrono::milliseconds m_timeout;
    const BcePrinter* m_owner;               // I/O thread only; null once closed
    asio::ip::tcp::socket m_socket;          // I/O thread only
    asio::steady_timer m_timer;              // I/O thread only
    std::vector<uint8_t> m_in;               // I/O thread only: bytes of a frame not yet whole
    uint8_t m_first[256];                    // I/O thread only: where each read starts

    std::mutex m_lock;                       // guards the members below
    State m_state = State::Closed;
    bool m_closed = false;
    uint64_t m_generation = 0;               // one per connection attempt
    int m_fd = -1;                           // the socket's descriptor while connecting or open
    std::vector<asio::ip::tcp::endpoint> m_endpoints;
    Clock::time_point m_attemptDeadline;
    Clock::time_point m_quietUntil;          // after a timed-out attempt
    uint32_t m_nextId = 1;
    std::unordered_map<uint32_t, LinkCall*> m_pending;   // requests by id
    std::vector<LinkCall*> m_awaitingConnection;         // waits without a request
    kvwire::Bytes m_out;                     // bytes to write; the I/O thread writes them
    size_t m_outStart = 0;                   // of m_out, already written
    kvwire::Bytes m_held;                    // request frames waiting for the greeting's answer
    bool m_flushing = false;                 // the I/O thread owns writing
    bool m_timerArmed = false;
};

}  // namespace zorbce
