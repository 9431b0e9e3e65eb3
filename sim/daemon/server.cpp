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

#include "wire/socket.h"

namespace kvsimd {
namespace {

using kvwire::Frame;
using asio::ip::tcp;

// What a garbage answer looks like: no magic, no frame.
constexpr char kGarbage[] = "GARBAGE-NOT-A-FRAME!";

// A read beyond a connection's inbox takes at most this much; a connection
// gets a few reads a turn, so that one which sends without end cannot hold up
// the others.
constexpr size_t kScratchSize = 64 * 1024;
constexpr int kReadsPerTurn = 4;
// A drained buffer of more than this goes back to the allocator.
constexpr size_t kKeptBuffer = 64 * 1024;
// What a queued request costs beyond its payload (job, frame, queue entry).
constexpr size_t kJobOverhead = 128;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Connections refused in one go when out of descriptors.
constexpr int kMaxRefusedAtOnce = 1024;

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

// The payload length a frame header announces (bytes 8-11, big-endian).
uint32_t announcedLength(const uint8_t* header) {
    return (uint32_t{header[8]} << 24) | (uint32_t{header[9]} << 16) | (uint32_t{header[10]} << 8) | header[11];
}

// The bytes still missing to the frame whose start `partial` holds: the rest
// of the header, then the rest of the payload.
size_t missing(const kvwire::Bytes& partial) {
    if (partial.size() < kvwire::kHeaderSize) return kvwire::kHeaderSize - partial.size();
    return kvwire::kHeaderSize + announcedLength(partial.data()) - partial.size();
}

// Appends to the buffer of an unfinished frame, which grows by doubling but
// never beyond the frame: memory follows what has arrived, not what a header
// announces.
void appendPartial(kvwire::Bytes& partial, const uint8_t* data, size_t length) {
    size_t needed = partial.size() + length;
    if (partial.capacity() < needed) {
        size_t frame = needed;
        if (partial.size() >= kvwire::kHeaderSize) frame = kvwire::kHeaderSize + announcedLength(partial.data());
        partial.reserve(std::max(needed, std::min(2 * partial.capacity(), frame)));
    }
    partial.insert(partial.end(), data, data + length);
}

void release(kvwire::Bytes& bytes) { kvwire::Bytes().swap(bytes); }

}  // namespace

struct Server::Connection {
    explicit Connection(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    std::array<uint8_t, 512> inbox;   // what the pending receive takes: a full poll of requests
    std::list<ConnectionPtr>::iterator self;        // in m_connections
    std::list<ConnectionPtr>::iterator ofPrinter;   // in m_greeted[printer], once greeted
    size_t printer = 0;
    bool greeted = false;
    bool closed = false;
    bool writing = false;             // waiting until the socket takes more
    Clock::time_point lastHeard;      // the accept, then the last whole frame received
    kvwire::Bytes partial;            // an unfinished frame
    kvwire::Bytes out;                // bytes to write, from outStart
    size_t outStart = 0;
    size_t jobBytes = 0;              // requests with the workers
    size_t jobs = 0;
    size_t charged = 0;               // what the connection holds, as charged to m_totalQueued
};

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
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    std::error_code ec;
    m_acceptor.assign(bound.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd, ec);
    if (!ec) m_acceptor.non_blocking(true, ec);
    if (ec) {
        if (!m_acceptor.is_open()) ::close(fd);
        *error = "cannot listen: " + ec.message();
        return false;
    }
    m_reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_scratch.resize(kScratchSize);
    return true;
}

bool Server::listensOnLoopback() const {
    std::error_code ec;
    asio::ip::address address = m_acceptor.local_endpoint(ec).address();
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

void Server::sendGathered(const ConnectionPtr& c) {
    Connection* was = m_gathering;
    m_gathering = nullptr;
    kvwire::Bytes gathered;
    gathered.swap(m_gathered);
    if (!gathered.empty()) send(c, gathered);
    gathered.clear();
    if (gathered.capacity() <= kKeptBuffer) m_gathered.swap(gathered);   // kept for the next read
    m_gathering = was;
}

// Takes received bytes: whole frames are handled as they come; the start of
// an unfinished one waits in the connection's buffer.
void Server::take(const ConnectionPtr& c, const uint8_t* data, size_t length) {
    while (length > 0 && !c->closed) {
        Frame frame;
        size_t used = 0;
        if (!c->partial.empty()) {
            size_t k = std::min(length, missing(c->partial));
            appendPartial(c->partial, data, k);
            data += k;
            length -= k;
            switch (kvwire::decodeFrame(c->partial.data(), c->partial.size(), &frame, &used)) {
            case kvwire::Decode::Malformed:
                return close(c);   // not our protocol
            case kvwire::Decode::NeedMore:
                recharge(c);
                continue;
            case kvwire::Decode::Ok:
                release(c->partial);
                recharge(c);
                break;
            }
        } else {
            switch (kvwire::decodeFrame(data, length, &frame, &used)) {
            case kvwire::Decode::Malformed:
                return close(c);
            case kvwire::Decode::NeedMore:
                appendPartial(c->partial, data, length);
                recharge(c);
                return;
            case kvwire::Decode::Ok:
                data += used;
                length -= used;
                break;
            }
        }
        handle(c, std::move(frame));
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
    if (m_options.delayMs == 0) return send(c, kvwire::encodeFrame(answer(c->printer, frame)));
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
    kvwire::HelloRequest request;
    if (hello.type != kvwire::kHello || !kvwire::decode(hello.payload, &request)) {
        const char* why = "the first frame of a connection must be a greeting";
        send(c, kvwire::encodeFrame(errorFrame(hello.id, BCE_E_INVALID, why)));
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
        c->printer = index;
        // Greeted before the answer leaves: a client that has its answer gets
        // every alert raised from then on.
        m_greeted[index].push_back(c);
        c->ofPrinter = std::prev(m_greeted[index].end());
        c->greeted = true;
    }
    send(c, kvwire::encodeFrame(Frame{kvwire::kHello | kvwire::kReplyBit, hello.id, kvwire::encode(reply)}));
    return c->greeted;
}

// ---- writing ----

// Writes at once what the socket takes; the rest waits in the connection's
// buffer until the socket takes more.
void Server::send(const ConnectionPtr& c, const kvwire::Bytes& bytes) {
    if (c->closed) return;
    if (m_gathering == c.get()) {
        m_gathered.insert(m_gathered.end(), bytes.begin(), bytes.end());
        if (m_gathered.size() >= kScratchSize) sendGathered(c);   // no more than a read's worth held back
        return;
    }
    size_t written = 0;
    if (c->outStart == c->out.size() && !writeSome(c, bytes.data(), bytes.size(), &written)) return;
    if (written == bytes.size()) return;
    if (c->outStart > 0 && c->outStart >= c->out.size() / 2) {
        c->out.erase(c->out.begin(), c->out.begin() + static_cast<std::ptrdiff_t>(c->outStart));
        c->outStart = 0;
    }
    c->out.insert(c->out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(written), bytes.end());
    if (recharge(c) && !c->writing) awaitWritable(c);
}

void Server::awaitWritable(const ConnectionPtr& c) {
    c->writing = true;
    c->socket.async_wait(tcp::socket::wait_write, [this, c](const std::error_code& error) {
        c->writing = false;
        if (c->closed) return;
        if (error) return close(c);
        onWritable(c);
    });
}

// False when the connection failed (and is closed now).
bool Server::writeSome(const ConnectionPtr& c, const uint8_t* data, size_t length, size_t* written) {
    while (*written < length) {
        std::error_code error;
        *written += c->socket.write_some(asio::buffer(data + *written, length - *written), error);
        if (error == asio::error::would_block) return true;
        if (error) {
            close(c);
            return false;
        }
    }
    return true;
}

void Server::onWritable(const ConnectionPtr& c) {
    size_t written = 0;
    if (!writeSome(c, c->out.data() + c->outStart, c->out.size() - c->outStart, &written)) return;
    c->outStart += written;
    if (c->outStart == c->out.size()) {
        c->outStart = 0;
        c->out.clear();
        if (c->out.capacity() > kKeptBuffer) release(c->out);
        recharge(c);
        return;
    }
    awaitWritable(c);
}

// ---- bounds ----

// Charges what the connection holds now; closes it, and is false, when that
// goes beyond its bound or the daemon's.
bool Server::recharge(const ConnectionPtr& c) {
    size_t now = c->partial.capacity() + c->out.capacity() + c->jobBytes;
    m_totalQueued = m_totalQueued - c->charged + now;
    c->charged = now;
    if (now <= m_options.maxQueuedBytes && m_totalQueued <= m_options.maxTotalQueuedBytes) return true;
    close(c);
    return false;
}

// Closes the connection and drops what it has queued.
void Server::close(ConnectionPtr c) {
    if (c->closed) return;
    c->closed = true;
    std::error_code ignored;
    if (m_gathering == c.get()) {
        // The replies before the request that closes it: what the socket takes at once.
        m_gathering = nullptr;
        if (c->outStart == c->out.size()) c->socket.write_some(asio::buffer(m_gathered), ignored);
        m_gathered.clear();
    }
    c->socket.close(ignored);   // its waits end as cancelled
    if (c->jobs) {
        std::lock_guard guard(m_queueLock);
        std::erase_if(m_queue, [&](const Job& job) { return job.connection == c; });
    }
    release(c->partial);
    release(c->out);
    c->jobBytes = 0;
    m_totalQueued -= c->charged;
    c->charged = 0;
    if (c->greeted) m_greeted[c->printer].erase(c->ofPrinter);
    m_connections.erase(c->self);
}

// Closes the connections past their greeting or idle time-out. It runs at an
// eighth of the shorter time-out (10 ms to 1 s), which bounds the overshoot.
void Server::armSweep() {
    unsigned shortest = 0;
    for (unsigned t : {m_options.greetingTimeoutMs, m_options.idleTimeoutMs})
        if (t && (!shortest || t < shortest)) shortest = t;
    if (!shortest) return;
    m_sweepTimer.expires_after(std::chrono::milliseconds(std::clamp(shortest / 8, 10u, 1000u)));
    m_sweepTimer.async_wait([this](const std::error_code& error) {
        if (!error) sweep();
    });
}

void Server::sweep() {
    auto now = Clock::now();
    auto greeting = std::chrono::milliseconds(m_options.greetingTimeoutMs);
    auto idle = std::chrono::milliseconds(m_options.idleTimeoutMs);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        ConnectionPtr c = *it++;
        bool late = c->greeted ? m_options.idleTimeoutMs && now - c->lastHeard >= idle
                               : m_options.greetingTimeoutMs && now - c->lastHeard >= greeting;
        if (late) close(c);
    }
    armSweep();
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
        kvwire::Bytes reply = kvwire::encodeFrame(answer(job.printer, job.request));
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

}  // namespace kvsimd
