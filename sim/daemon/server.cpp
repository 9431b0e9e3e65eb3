#include "server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wire/frame_assembler.h"
#include "wire/socket.h"

namespace kvsimd {
namespace {

using kvwire::Frame;
using asio::ip::tcp;

// What a garbage answer looks like: no magic, no frame.
constexpr char kGarbage[] = "GARBAGE-NOT-A-FRAME!";

// A connection gets a few reads a turn, so that one which sends without end
// cannot hold up the others.
constexpr int kReadsPerTurn = 4;
// What a queued request costs beyond its payload (job, frame, queue entry).
constexpr size_t kJobOverhead = 128;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Connections refused in one go when out of descriptors.
constexpr int kMaxRefusedAtOnce = 1024;

}  // namespace

Server::Server(std::vector<ServedPrinter> printers, ServerOptions options)
    : m_printers(std::move(printers)),
      m_options(std::move(options)),
      m_keepRunning(m_loop.get_executor()),
      m_acceptor(m_loop),
      m_acceptPause(m_loop),
      m_sweepTimer(m_loop),
      m_alertTimer(m_loop),
      m_greeted(m_printers.size()) {}

Server::~Server() { stop(); }

bool Server::listen(std::string* error) {
    int fd = kvwire::listenTcp(m_options.host, m_options.port, &m_port, error, SOMAXCONN);
    if (fd < 0) return false;
    if (std::error_code ec = adoptListener(m_acceptor, fd)) {
        *error = "cannot listen: " + ec.message();
        return false;
    }
    m_reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_scratch.resize(kScratchSize);
    return true;
}

bool Server::listensOnLoopback() const { return kvsimd::listensOnLoopback(m_acceptor); }

std::error_code adoptListener(asio::ip::tcp::acceptor& acceptor, int fd) {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    std::error_code ec;
    acceptor.assign(bound.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd, ec);
    if (!ec) acceptor.non_blocking(true, ec);
    if (ec && !acceptor.is_open()) ::close(fd);
    return ec;
}

bool listensOnLoopback(const asio::ip::tcp::acceptor& acceptor) {
    std::error_code ec;
    asio::ip::address address = acceptor.local_endpoint(ec).address();
    if (ec) return false;
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback();
    return address.is_loopback();
}

void Server::start() {
    for (size_t i = 0; i < m_printers.size(); ++i)
        m_listenerTokens.push_back(m_printers[i].printer->addAlertListener(
            [this, i](unsigned short alertId, unsigned long family) { pushAlert(i, alertId, family); }));
    accept();
    armSweep();
    if (m_options.raiseAlertsMs) armAlerts(0);
    if (m_options.delayMs)
        for (unsigned i = 0; i < std::max(m_options.workers, 1u); ++i) m_workers.emplace_back(&Server::workLoop, this);
    m_loopThread = std::thread(&Server::runLoop, this);
}

void Server::stop() {
    if (m_stopping.exchange(true)) return;
    for (size_t i = 0; i < m_listenerTokens.size(); ++i) m_printers[i].printer->removeAlertListener(m_listenerTokens[i]);
    {
        std::lock_guard guard(m_stopLock);   // no waiter misses the news
    }
    m_stopped.notify_all();
    if (m_loopThread.joinable()) {
        asio::post(m_loop, [this] { shutDown(); });
        m_loopThread.join();
    } else {
        shutDown();
    }
    m_queued.notify_all();
    for (auto& w : m_workers)
        if (w.joinable()) w.join();
    m_workers.clear();
    m_queue.clear();
    if (m_reserveFd >= 0) ::close(m_reserveFd), m_reserveFd = -1;
}

// The loop thread. A handler that throws (memory) is reported and the loop
// goes on: one connection may suffer, never the daemon.
void Server::runLoop() {
    for (;;) {
        try {
            m_loop.run();
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kvprtsimd: %s\n", e.what());
        }
    }
}

void Server::shutDown() {
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_acceptPause.cancel();
    m_sweepTimer.cancel();
    m_alertTimer.cancel();
    while (!m_connections.empty()) close(m_connections.front());
    m_keepRunning.reset();
    m_loop.stop();
}

// ---- accepting ----

void Server::accept() {
    m_acceptor.async_accept([this](const std::error_code& error, tcp::socket peer) { onAccepted(error, std::move(peer)); });
}

void Server::onAccepted(const std::error_code& error, tcp::socket peer) {
    if (error == asio::error::operation_aborted || m_stopping) return;
    if (error) {
        int code = error.value();
        if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) {
            refusePending();
            m_acceptPause.expires_after(kAcceptPause);
            m_acceptPause.async_wait([this](const std::error_code& e) {
                if (!e) accept();
            });
            return;
        }
        accept();   // the peer gave up before it was accepted, or the like
        return;
    }
    if (m_connections.size() < m_options.maxConnections) {
        try {
            open(std::move(peer));
        } catch (const std::bad_alloc&) {
            // refused: the socket closes as it goes
        } catch (const std::system_error&) {
        }
    }
    accept();
}

// Out of descriptors: the reserved one makes room to accept and close the
// pending connections, so that their clients learn it at once.
void Server::refusePending() {
    if (m_reserveFd < 0) return;
    ::close(m_reserveFd);
    for (int i = 0; i < kMaxRefusedAtOnce; ++i) {
        int fd = ::accept4(m_acceptor.native_handle(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        ::close(fd);
    }
    m_reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void Server::open(tcp::socket peer) {
    auto c = std::make_shared<Connection>(std::move(peer));
    std::error_code ec;
    c->socket.non_blocking(true, ec);
    if (!ec) c->socket.set_option(tcp::no_delay(true), ec);
    if (ec) return;
    c->lastHeard = Clock::now();
    m_connections.push_back(c);
    c->self = std::prev(m_connections.end());
    try {
        awaitReadable(c);
    } catch (const std::bad_alloc&) {
        close(c);
    }
}

// ---- reading ----

// Each connection has a small inbox that its pending receive fills: a receive
// (unlike a bare wait) is tried at once and then waits without re-arming the
// socket with the kernel, a system call less per request. A full inbox means
// there may be more, read on through the shared buffer.
void Server::awaitReadable(const ConnectionPtr& c) {
    c->socket.async_receive(asio::buffer(c->inbox), [this, c](const std::error_code& error, size_t n) {
        if (c->closed) return;
        if (error) return close(c);   // closed by the peer (eof) or reset
        try {
            onReadable(c, n);
        } catch (const std::bad_alloc&) {
            close(c);
        }
    });
}

// The replies to the requests of one read go out together, in one write:
// they gather in m_gathered (the loop's, shared) while the read is taken.
void Server::onReadable(const ConnectionPtr& c, size_t received) {
    bool failed = false;
    m_gathering = c.get();
    try {
        take(c, c->inbox.data(), received);
        for (int i = 0; received == c->inbox.size() && i < kReadsPerTurn && !c->closed; ++i) {
            std::error_code error;
            received = c->socket.read_some(asio::buffer(m_scratch), error);
            if (error == asio::error::would_block) break;
            if ((failed = static_cast<bool>(error))) break;
            take(c, m_scratch.data(), received);
            if (received < m_scratch.size()) break;
        }
    } catch (...) {
        m_gathering = nullptr;
        m_gathered.clear();
        throw;
    }
    sendGathered(c);
    m_gathering = nullptr;
    if (failed) return close(c);
    if (!c->closed) awaitReadable(c);
}

void Server::take(const ConnectionPtr& c, const uint8_t* data, size_t length) {
    c->frames.feed(data, length);
    while (!c->closed) {
        Frame frame;
        size_t held = c->frames.capacity();
        switch (c->frames.next(&frame)) {
        case kvwire::FrameAssembler::Result::Frame:
            if (c->frames.capacity() != held && !recharge(c)) return;
            handle(c, std::move(frame));
            break;
        case kvwire::FrameAssembler::Result::NeedMore:
            recharge(c);
            return;
        case kvwire::FrameAssembler::Result::Malformed:
        case kvwire::FrameAssembler::Result::Oversized:
            return close(c);   // not our protocol
        }
    }
}

void Server::handle(const ConnectionPtr& c, Frame frame) {
    c->lastHeard = Clock::now();
    if (!c->greeted) {
        if (!greet(c, frame)) close(c);
        return;
    }
    if (c->printer < m_options.silent) return;   // read, and never answered
    unsigned long n = ++m_requestCount;
    if (m_options.dropEvery && n % m_options.dropEvery == 0) return close(c);
    if (m_options.garbageEvery && n % m_options.garbageEvery == 0)
        return send(c, kvwire::Bytes(kGarbage, kGarbage + sizeof kGarbage - 1));
    if (m_options.delayMs == 0) return send(c, kvwire::encodeFrame(answer(*m_printers[c->printer].printer, frame)));
    size_t cost = kJobOverhead + frame.payload.capacity();
    c->jobBytes += cost;
    ++c->jobs;
    if (!recharge(c)) return;
    {
        std::lock_guard guard(m_queueLock);
        m_queue.push_back(Job{c, c->printer, std::move(frame), cost});
    }
    m_queued.notify_one();
}

bool Server::greet(const ConnectionPtr& c, const Frame& hello) {
    Greeting greeting = kvsimd::greet(m_printers, hello);
    if (greeting.printer) {
        // Greeted before the answer leaves: a client that has its answer gets
        // every alert raised from then on.
        c->printer = *greeting.printer;
        m_greeted[c->printer].push_back(c);
        c->ofPrinter = std::prev(m_greeted[c->printer].end());
        c->greeted = true;
    }
    send(c, kvwire::encodeFrame(greeting.reply));
    return c->greeted;
}

// ---- alerts ----

// Raises each printer's profile alerts in turn, one round per interval.
void Server::armAlerts(size_t next) {
    m_alertTimer.expires_after(std::chrono::milliseconds(m_options.raiseAlertsMs));
    m_alertTimer.async_wait([this, next](const std::error_code& error) {
        if (error) return;
        for (auto& p : m_printers)
            if (p.printer->profileAlertCount()) p.printer->raiseProfileAlert(next % p.printer->profileAlertCount());
        armAlerts(next + 1);
    });
}

// Any thread (the printer calls it): on the loop thread it sends at once, so
// that an alert a request raises goes out before the request's reply.
void Server::pushAlert(size_t printer, unsigned short alertId, unsigned long family) {
    asio::dispatch(m_loop, [this, printer, alertId, family] {
        std::vector<ConnectionPtr> targets(m_greeted[printer].begin(), m_greeted[printer].end());
        if (targets.empty()) return;
        kvwire::Bytes notice = kvwire::encodeFrame(
            Frame{kvwire::kAlert, 0, kvwire::encode(kvwire::AlertNotice{alertId, static_cast<uint32_t>(family)})});
        for (auto& c : targets) send(c, notice);
    });
}

// ---- workers ----

void Server::workLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(m_queueLock);
            m_queued.wait(guard, [&] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        {
            std::unique_lock guard(m_stopLock);
            if (m_stopped.wait_for(guard, std::chrono::milliseconds(m_options.delayMs), [&] { return m_stopping.load(); }))
                return;
        }
        kvwire::Bytes reply = kvwire::encodeFrame(answer(*m_printers[job.printer].printer, job.request));
        job.request = {};
        asio::post(m_loop, [this, c = std::move(job.connection), cost = job.cost, reply = std::move(reply)]() mutable {
            if (c->closed) return;
            c->jobBytes -= cost;
            --c->jobs;
            recharge(c);
            try {
                send(c, std::move(reply));
            } catch (const std::bad_alloc&) {
                close(c);
            }
        });
    }
}

}  // namespace kvsimd
