#include "server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "wire/socket.h"

namespace kvsimd {
namespace {

using kvwire::Frame;

// What a garbage answer looks like: no magic, no frame.
constexpr char kGarbage[] = "GARBAGE-NOT-A-FRAME!";

// A client that stops reading must not hold a worker for ever.
constexpr int kSendTimeoutMs = 2000;

Frame errorFrame(uint32_t id, long rc, const std::string& text) {
    return Frame{kvwire::kError, id, kvwire::encode(kvwire::ErrorReply{static_cast<int32_t>(rc), text})};
}

// Runs a printer call that fills a buffer of the client's capacity (bounded by
// what one frame can carry) and packs its result, length and bytes.
template <class Call>
kvwire::DataReply carry(uint32_t capacity, Call call) {
    capacity = std::min<uint32_t>(capacity, kvwire::kMaxPayload - 64);
    kvwire::Bytes buffer(capacity ? capacity : 4);
    unsigned long length = capacity;
    kvwire::DataReply reply;
    reply.rc = static_cast<int32_t>(call(buffer.data(), &length));
    reply.length = static_cast<uint32_t>(length);
    if (reply.rc == 0) {
        buffer.resize(std::min<unsigned long>(length, capacity));
        reply.data = std::move(buffer);
    }
    return reply;
}

}  // namespace

Server::Server(std::vector<ServedPrinter> printers, ServerOptions options)
    : m_printers(std::move(printers)), m_options(std::move(options)) {}

Server::~Server() { stop(); }

bool Server::listen(std::string* error) {
    m_listenFd = kvwire::listenTcp(m_options.host, m_options.port, &m_port, error);
    if (m_listenFd < 0) return false;
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void Server::start() {
    for (size_t i = 0; i < m_printers.size(); ++i)
        m_listenerTokens.push_back(m_printers[i].printer->addAlertListener(
            [this, i](unsigned short alertId, unsigned long family) { pushAlert(i, alertId, family); }));
    unsigned workers = m_options.workers ? m_options.workers : 1;
    for (unsigned i = 0; i < workers; ++i) m_workers.emplace_back(&Server::workLoop, this);
    m_acceptor = std::thread(&Server::acceptLoop, this);
    if (m_options.raiseAlertsMs) m_alerter = std::thread(&Server::alertLoop, this);
}

void Server::stop() {
    if (m_stopping.exchange(true)) return;
    for (size_t i = 0; i < m_listenerTokens.size(); ++i) m_printers[i].printer->removeAlertListener(m_listenerTokens[i]);
    if (m_wakePipe[1] >= 0) {
        char c = 0;
        (void)!::write(m_wakePipe[1], &c, 1);
    }
    {
        std::lock_guard guard(m_stopLock);   // no waiter misses the news
    }
    m_stopped.notify_all();
    if (m_acceptor.joinable()) m_acceptor.join();
    if (m_alerter.joinable()) m_alerter.join();
    std::list<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard guard(m_connectionsLock);
        connections.swap(m_connections);
    }
    for (auto& c : connections) {
        std::lock_guard guard(c->writeLock);
        if (!c->closed) ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : connections)
        if (c->reader.joinable()) c->reader.join();
    m_queued.notify_all();
    for (auto& w : m_workers)
        if (w.joinable()) w.join();
    m_workers.clear();
    if (m_listenFd >= 0) ::close(m_listenFd);
    for (int& fd : m_wakePipe)
        if (fd >= 0) ::close(fd), fd = -1;
    m_listenFd = -1;
}

void Server::acceptLoop() {
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        int ready = ::poll(fds, 2, 1000);
        reapFinished();
        if (ready <= 0 || (fds[1].revents & POLLIN)) continue;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        std::lock_guard guard(m_connectionsLock);
        if (m_stopping) {
            ::close(fd);
            break;
        }
        m_connections.push_back(connection);
        connection->reader = std::thread(&Server::readLoop, this, connection);
    }
}

// Joins the readers of connections their clients have closed.
void Server::reapFinished() {
    std::list<std::shared_ptr<Connection>> finished;
    {
        std::lock_guard guard(m_connectionsLock);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->finished) {
                finished.push_back(*it);
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished)
        if (c->reader.joinable()) c->reader.join();
}

void Server::readLoop(std::shared_ptr<Connection> connection) {
    Connection& c = *connection;
    kvwire::FrameReader frames(c.fd);
    for (;;) {
        Frame frame;
        if (frames.read(&frame) != kvwire::Io::Ok) break;   // closed, or not our protocol
        if (!c.greeted) {
            if (!greet(c, frame)) break;
            continue;
        }
        unsigned long n = ++m_requestCount;
        if (m_options.dropEvery && n % m_options.dropEvery == 0) break;
        if (m_options.garbageEvery && n % m_options.garbageEvery == 0) {
            sendRaw(c, kGarbage, sizeof kGarbage - 1);
            continue;
        }
        if (m_options.delayMs == 0) {
            // Answered at once by this reader: a hand-over to a worker would
            // cost a thread wake-up on every round trip.
            send(c, answer(c.printer, frame));
            continue;
        }
        {
            std::lock_guard guard(m_queueLock);
            m_queue.push_back(Job{connection, std::move(frame)});
        }
        m_queued.notify_one();
    }
    ::shutdown(c.fd, SHUT_RDWR);
    {
        std::lock_guard guard(c.writeLock);
        c.closed = true;
        ::close(c.fd);
    }
    c.finished = true;
}

bool Server::greet(Connection& c, const Frame& hello) {
    kvwire::HelloRequest request;
    if (hello.type != kvwire::kHello || !kvwire::decode(hello.payload, &request)) {
        send(c, errorFrame(hello.id, BCE_E_INVALID, "the first frame of a connection must be a greeting"));
        return false;
    }
    size_t index = m_printers.size();
    if (request.printer.empty()) {
        index = 0;
    } else {
        for (size_t i = 0; i < m_printers.size() && index == m_printers.size(); ++i)
            if (m_printers[i].name == request.printer) index = i;
        bool digits = request.printer.find_first_not_of("0123456789") == std::string::npos && request.printer.size() < 9;
        if (index == m_printers.size() && digits) index = std::stoul(request.printer);
    }
    kvwire::HelloReply reply;
    if (index >= m_printers.size()) {
        reply.rc = BCE_E_BAD_URI;
    } else {
        reply.printerName = m_printers[index].name;
        c.printer = index;
    }
    // Greeted before the answer leaves: a client that has its answer gets
    // every alert raised from then on.
    c.greeted = reply.rc == 0;
    send(c, Frame{kvwire::kHello | kvwire::kReplyBit, hello.id, kvwire::encode(reply)});
    return c.greeted;
}

void Server::workLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(m_queueLock);
            m_queued.wait(guard, [&] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) return;   // stopping
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (m_options.delayMs) {
            std::unique_lock guard(m_stopLock);
            m_stopped.wait_for(guard, std::chrono::milliseconds(m_options.delayMs), [&] { return m_stopping.load(); });
        }
        send(*job.connection, answer(job.connection->printer, job.request));
    }
}

Frame Server::answer(size_t index, const Frame& request) {
    kvsim::SimPrinter& printer = *m_printers[index].printer;
    uint8_t replyType = request.type | kvwire::kReplyBit;
    switch (request.type) {
    case kvwire::kSendBidi: {
        kvwire::SendBidiRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::DataReply reply = carry(r.capacity, [&](void* buffer, unsigned long* length) {
            return printer.sendBidi(r.appId, r.netType, r.code, buffer, length, r.data.data(), r.data.size());
        });
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kQueryAlert: {
        kvwire::QueryAlertRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::DataReply reply = carry(r.capacity, [&](void* buffer, unsigned long* length) {
            return printer.queryAlerts(r.appId, r.alertId, r.flag, buffer, length);
        });
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kGetPrtInfo: {
        kvwire::PrtInfoRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::PrtInfoReply reply;
        reply.rc = static_cast<int32_t>(printer.getPrtInfo(&reply.info, r.refresh));
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kGetAddress: {
        kvwire::AddressRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::AddressReply reply;
        reply.rc = static_cast<int32_t>(printer.getPrinterAddrEx(r.netType, &reply.address, r.level));
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kGetName: {
        kvwire::NameRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::NameReply reply;
        char name[80] = "", address[80] = "";
        reply.rc = static_cast<int32_t>(printer.getPrinterName(r.netType, name, address));
        reply.name = name;
        reply.address = address;
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    default:
        return errorFrame(request.id, BCE_E_NOT_SUPPORTED, "unknown message type");
    }
    return errorFrame(request.id, BCE_E_INVALID, "malformed request payload");
}

void Server::send(Connection& c, const Frame& frame) {
    kvwire::Bytes bytes = kvwire::encodeFrame(frame);
    sendRaw(c, bytes.data(), bytes.size());
}

void Server::sendRaw(Connection& c, const void* data, size_t length) {
    std::lock_guard guard(c.writeLock);
    if (c.closed) return;
    if (kvwire::writeAll(c.fd, data, length) != kvwire::Io::Ok) ::shutdown(c.fd, SHUT_RDWR);
}

void Server::pushAlert(size_t printer, unsigned short alertId, unsigned long family) {
    std::vector<std::shared_ptr<Connection>> targets;
    {
        std::lock_guard guard(m_connectionsLock);
        for (auto& c : m_connections)
            if (c->greeted && c->printer == printer && !c->finished) targets.push_back(c);
    }
    Frame notice{kvwire::kAlert, 0, kvwire::encode(kvwire::AlertNotice{alertId, static_cast<uint32_t>(family)})};
    for (auto& c : targets) send(*c, notice);
}

// Raises each printer's profile alerts in turn, one round per interval.
void Server::alertLoop() {
    size_t next = 0;
    std::unique_lock guard(m_stopLock);
    while (!m_stopped.wait_for(guard, std::chrono::milliseconds(m_options.raiseAlertsMs),
                               [&] { return m_stopping.load(); })) {
        guard.unlock();
        for (auto& p : m_printers)
            if (p.printer->profileAlertCount()) p.printer->raiseProfileAlert(next % p.printer->profileAlertCount());
        ++next;
        guard.lock();
    }
}

}  // namespace kvsimd
