// kvprtsimd's server: simulated printers served over the engine's framed TCP
// protocol (docs/protocol.md) to any number of clients at once.
//
// Threads: one event loop (standalone asio) accepts, reads, answers and
// writes every connection, whatever their number, and owns all connection
// state. With a reply delay, requests go instead to a pool of workers (started
// only then), each of which waits out the delay, answers, and hands the reply
// back to the loop; so the replies of one connection may leave in another
// order than their requests came. Timers on the loop raise the profile alerts
// and close connections past their time-outs. The daemon thus runs the main
// thread (waiting for a signal) and the loop, plus the workers with a delay.
// The replies to the requests that came in one read leave in one write.
// New alerts of a printer are pushed to every connection greeted for it.
//
// Bounds against clients that are broken or hostile:
//   - at most maxConnections connections; one more is closed once accepted;
//   - a connection must greet within greetingTimeoutMs of its accept, and
//     then send a frame at least every idleTimeoutMs (0: no limit);
//   - what a connection has queued (the buffer of an unfinished frame, its
//     requests waiting for a worker, replies and alerts the kernel has not
//     taken yet) is charged to it, at most maxQueuedBytes, and to the
//     daemon, at most maxTotalQueuedBytes over all connections; a connection
//     that would go beyond either is closed (no error frame: an unfinished
//     frame cannot be answered, and a client that does not read would not
//     see it);
//   - a closed connection's queued requests and replies are dropped at once;
//   - a resource that cannot be had refuses one connection, never the
//     daemon: out of file descriptors, pending connections are closed with a
//     reserved descriptor and accepting pauses for 100 ms; a failed setup of
//     a connection (memory) closes that connection.
// Fault options make the server slow, silent, drop connections or send
// garbage, for tests of the clients.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kvprtobj/kvprtsim.h"
#include "protocol.h"
#include "wire/frame.h"
#include "wire/frame_assembler.h"

namespace kvsimd {

// False when a listening socket is bound to an address that is not a loopback one.
bool listensOnLoopback(const asio::ip::tcp::acceptor& acceptor);
// `acceptor` takes the listening socket `fd`, non-blocking; on failure `fd` is closed.
std::error_code adoptListener(asio::ip::tcp::acceptor& acceptor, int fd);

struct ServerOptions {
    std::string host = "127.0.0.1";
    std::string port = "0";
    unsigned workers = 8;        // threads that carry out delayed requests
    unsigned delayMs = 0;        // every reply waits this long
    unsigned dropEvery = 0;      // every Nth request (counted over all connections) closes its connection unanswered
    unsigned garbageEvery = 0;   // every Nth request is answered with bytes that are no frame
    unsigned raiseAlertsMs = 0;  // raise each printer's profile alerts in turn at this interval
    unsigned silent = 0;         // printers 0..silent-1 answer the greeting but never a request
    unsigned maxConnections = 4096;
    unsigned greetingTimeoutMs = 10000;     // 0: none
    unsigned idleTimeoutMs = 3600000;       // 0: none
    size_t maxQueuedBytes = 2u << 20;       // per connection
    size_t maxTotalQueuedBytes = 64u << 20; // over all connections
};

class Server {
public:
    Server(std::vector<ServedPrinter> printers, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the listening socket; false with a message.
    bool listen(std::string* error);
    uint16_t port() const { return m_port; }
    // False when the address listened on is not a loopback one (any peer may connect).
    bool listensOnLoopback() const;
    const std::vector<ServedPrinter>& printers() const { return m_printers; }

    // Starts the loop thread (and the workers with a delay). Throws
    // std::system_error when a thread cannot be started.
    void start();
    // Closes the listening socket and every connection; joins every thread.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    // A read beyond a connection's inbox takes at most this much.
    static constexpr size_t kScratchSize = 64 * 1024;
    // A drained buffer of more than this goes back to the allocator.
    static constexpr size_t kKeptBuffer = 64 * 1024;
    struct Connection;
    using ConnectionPtr = std::shared_ptr<Connection>;
    struct Job {
        ConnectionPtr connection;
        size_t printer = 0;
        kvwire::Frame request;
        size_t cost = 0;   // what the job is charged to its connection
    };

    // ---- on the loop thread ----
    void runLoop();
    void accept();
    void onAccepted(const std::error_code& error, asio::ip::tcp::socket peer);
    void refusePending();
    void open(asio::ip::tcp::socket peer);
    void awaitReadable(const ConnectionPtr& c);
    void onReadable(const ConnectionPtr& c, size_t received);
    void take(const ConnectionPtr& c, const uint8_t* data, size_t length);
    void handle(const ConnectionPtr& c, kvwire::Frame frame);
    bool greet(const ConnectionPtr& c, const kvwire::Frame& hello);
    void send(const ConnectionPtr& c, const kvwire::Bytes& bytes);
    void sendGathered(const ConnectionPtr& c);   // writes the replies gathered so far
    bool writeSome(const ConnectionPtr& c, const uint8_t* data, size_t length, size_t* written);
    void awaitWritable(const ConnectionPtr& c);
    void onWritable(const ConnectionPtr& c);
    bool recharge(const ConnectionPtr& c);
    void close(ConnectionPtr c);
    void shutDown();
    void armSweep();
    void sweep();
    void armAlerts(size_t next);
    void pushAlert(size_t printer, unsigned short alertId, unsigned long family);

    // ---- on the workers ----
    void workLoop();

    std::vector<ServedPrinter> m_printers;
    std::vector<int> m_listenerTokens;
    const ServerOptions m_options;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};

    // Declared first: the sockets and timers below need it until they go.
    asio::io_context m_loop;
    asio::executor_work_guard<asio::io_context::executor_type> m_keepRunning;
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_acceptPause;
    asio::steady_timer m_sweepTimer;
    asio::steady_timer m_alertTimer;
    int m_reserveFd = -1;   // given up to refuse connections when out of descriptors
    std::vector<uint8_t> m_scratch;   // what one read takes, shared by the connections
    Connection* m_gathering = nullptr;   // whose replies gather in m_gathered
    kvwire::Bytes m_gathered;
    std::list<ConnectionPtr> m_connections;
    std::vector<std::list<ConnectionPtr>> m_greeted;   // per printer
    size_t m_totalQueued = 0;
    unsigned long m_requestCount = 0;
    std::thread m_loopThread;

    std::vector<std::thread> m_workers;
    std::mutex m_queueLock;
    std::condition_variable m_queued;
    std::deque<Job> m_queue;

    std::mutex m_stopLock;
    std::condition_variable m_stopped;
};

struct Server::Connection {
    explicit Connection(asio::ip::tcp::socket s) : socket(std::move(s)) {}
    asio::ip::tcp::socket socket;
    std::array<uint8_t, 512> inbox;   // what the pending receive takes: a full poll of requests
    std::list<ConnectionPtr>::iterator self;        // in m_connections
    std::list<ConnectionPtr>::iterator ofPrinter;   // in m_greeted[printer], once greeted
    size_t printer = 0;
    bool greeted = false;
    bool closed = false;
    bool writing = false;             // waiting until the socket takes more
    Clock::time_point lastHeard;      // the accept, then the last whole frame received
    kvwire::FrameAssembler frames;    // the frames of the bytes received
    kvwire::Bytes out;                // bytes to write, from outStart
    size_t outStart = 0;
    size_t jobBytes = 0;              // requests with the workers
    size_t jobs = 0;
    size_t charged = 0;               // what the connection holds, as charged to m_totalQueued
};

}  // namespace kvsimd
