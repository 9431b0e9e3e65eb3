#include "tcp_link.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "io_loop.h"

namespace zorbce {
namespace {

using kvwire::Bytes;

// Buffers of an idle link larger than this are given back.
constexpr size_t kKeptBuffer = 4096;
// Reads of one readiness before the other connections get their turn.
constexpr int kReadsPerTurn = 16;

void release(Bytes& bytes) {
    bytes.clear();
    if (bytes.capacity() > kKeptBuffer) Bytes().swap(bytes);
}

// The addresses of host:port; numeric ones only when `numericOnly` (the I/O
// thread does not wait for a name server).
std::vector<asio::ip::tcp::endpoint> resolve(const std::string& host, const std::string& port, bool numericOnly) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (numericOnly) hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    std::vector<asio::ip::tcp::endpoint> endpoints;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) return endpoints;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(list, ::freeaddrinfo);
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        asio::ip::tcp::endpoint endpoint;
        if (ai->ai_addrlen > endpoint.capacity()) continue;
        std::memcpy(endpoint.data(), ai->ai_addr, ai->ai_addrlen);
        endpoint.resize(ai->ai_addrlen);
        endpoints.push_back(endpoint);
    }
    return endpoints;
}

// Runs `work` on the I/O thread later; false when there is no memory for it.
template <class Work>
bool later(Work&& work) {
    try {
        IoLoop::get().post(std::forward<Work>(work));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

TcpLink::TcpLink(TcpAddress address, const BcePrinter* owner)
    : m_address(std::move(address)),
      m_timeout(m_address.timeoutMs),
      m_owner(owner),
      m_socket(IoLoop::get().context()),
      m_timer(IoLoop::get().context()) {}

TcpLink::~TcpLink() = default;

long TcpLink::start(LinkCall* call, uint8_t type, const Bytes& payload) {
    try {
        std::unique_lock guard(m_lock);
        if (m_closed) return BCE_E_BAD_HANDLE;
        if (long rc = prepare(guard); rc != BCE_OK) return rc;
        call->deadline = Clock::now() + m_timeout;
        if (type == 0) {
            if (m_state != State::Open) {
                m_awaitingConnection.push_back(call);
                return BCE_OK;
            }
            kvwire::Frame none;
            return later([call, none]() mutable { call->finish(BCE_OK, none); }) ? BCE_OK : BCE_E_NO_MEMORY;
        }
        do call->id = m_nextId++;
        while (call->id == 0 || m_pending.count(call->id));
        m_pending.emplace(call->id, call);
        try {
            send(type, call->id, payload, call->waiting);
        } catch (const std::bad_alloc&) {
            m_pending.erase(call->id);
            return BCE_E_NO_MEMORY;
        }
        watch();
        return BCE_OK;
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

long TcpLink::prepare(std::unique_lock<std::mutex>& guard) {
    if (m_state != State::Closed) return BCE_OK;
    if (Clock::now() < m_quietUntil) return BCE_E_TIMEOUT;
    // A host name is resolved again for every connection, by the thread that
    // asks for it: the I/O thread must not wait for a name server, so it uses
    // the addresses found last (or a numeric address).
    if (!IoLoop::onIoThread()) {
        guard.unlock();
        auto endpoints = resolve(m_address.host, m_address.port, false);
        guard.lock();
        if (m_closed) return BCE_E_BAD_HANDLE;
        if (m_state != State::Closed) return BCE_OK;   // another thread got there first
        if (endpoints.empty()) return BCE_E_CHANNEL_DOWN;
        m_endpoints = std::move(endpoints);
    } else if (m_endpoints.empty()) {
        m_endpoints = resolve(m_address.host, m_address.port, true);
        if (m_endpoints.empty()) return BCE_E_CHANNEL_DOWN;
    }
    uint64_t generation = m_generation + 1;
    if (!later([self = shared_from_this(), generation] { self->connect(generation, 0); })) return BCE_E_NO_MEMORY;
    m_generation = generation;
    m_state = State::Connecting;
    m_attemptDeadline = Clock::now() + m_timeout;
    watch();
    return BCE_OK;
}

void TcpLink::send(uint8_t type, uint32_t id, const Bytes& payload, bool writeNow) {
    uint8_t header[kvwire::kHeaderSize];
    kvwire::encodeHeader(header, type, id, static_cast<uint32_t>(payload.size()));
    size_t sent = 0;
    if (m_state != State::Open) {
        m_held.reserve(m_held.size() + sizeof header + payload.size());
    } else {
        // Room first, so that whatever does not go out now can be kept.
        m_out.reserve(m_out.size() + sizeof header + payload.size());
        if (writeNow && !m_flushing && m_outStart == m_out.size()) {
            // Nothing waits to be written: the caller writes its frame itself.
            iovec parts[2] = {{header, sizeof header}, {const_cast<uint8_t*>(payload.data()), payload.size()}};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = payload.empty() ? 1 : 2;
            ssize_t n;
            do n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
            while (n < 0 && errno == EINTR);
            if (n == static_cast<ssize_t>(sizeof header + payload.size())) return;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                // The connection failed: the I/O thread drops it, failing this request too.
                uint64_t generation = m_generation;
                m_flushing = later([self = shared_from_this(), generation] {
                    self->fail(generation, BCE_E_CONNECTION_RESET);
                });
                return;
            }
            sent = n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    Bytes& into = m_state == State::Open ? m_out : m_held;
    if (sent < sizeof header) into.insert(into.end(), header + sent, header + sizeof header);
    size_t fromPayload = sent > sizeof header ? sent - sizeof header : 0;
    into.insert(into.end(), payload.begin() + static_cast<long>(fromPayload), payload.end());
    if (m_state == State::Open && !m_flushing) {
        uint64_t generation = m_generation;
        m_flushing = later([self = shared_from_this(), generation] { self->flush(generation); });
    }
}

void TcpLink::watch() {
    // The timer, once armed, stays armed while there are deadlines: every
    // deadline is later than those before it, so it never fires late.
    if (m_timerArmed) return;
    if (IoLoop::onIoThread()) {
        if (auto next = nextDeadline()) armTimer(*next);
        return;
    }
    m_timerArmed = later([self = shared_from_this()] {
        std::lock_guard guard(self->m_lock);
        auto next = self->nextDeadline();
        if (next && !self->m_closed)
            self->armTimer(*next);
        else
            self->m_timerArmed = false;
    });
}

bool TcpLink::abandon(LinkCall* call) {
    std::lock_guard guard(m_lock);
    if (auto it = m_pending.find(call->id); it != m_pending.end() && it->second == call) {
        m_pending.erase(it);
        return true;
    }
    for (auto it = m_awaitingConnection.begin(); it != m_awaitingConnection.end(); ++it)
        if (*it == call) {
            m_awaitingConnection.erase(it);
            return true;
        }
    return false;
}

void TcpLink::close() {
    IoLoop::get().runAndWait([this] {
        std::vector<LinkCall*> calls;
        {
            std::lock_guard guard(m_lock);
            m_closed = true;
            m_owner = nullptr;
            calls = dropLocked(BCE_E_BAD_HANDLE);
            m_timer.cancel();
        }
        finishAll(calls, BCE_E_BAD_HANDLE);
    });
}

// ---- I/O thread ----

void TcpLink::connect(uint64_t generation, size_t endpoint) {
    std::unique_lock guard(m_lock);
    if (generation != m_generation || m_state != State::Connecting) return;
    if (endpoint >= m_endpoints.size()) {
        guard.unlock();
        fail(generation, BCE_E_CHANNEL_DOWN);   // every address refused
        return;
    }
    asio::ip::tcp::endpoint to = m_endpoints[endpoint];
    guard.unlock();
    std::error_code error;
    m_socket.close(error);
    int fd = ::socket(to.protocol().family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        fail(generation, BCE_E_CHANNEL_DOWN);   // no descriptor to be had
        return;
    }
    m_socket.assign(to.protocol(), fd, error);
    if (error) {
        ::close(fd);
        fail(generation, BCE_E_CHANNEL_DOWN);
        return;
    }
    m_socket.set_option(asio::ip::tcp::no_delay(true), error);
    m_socket.async_connect(to, [self = shared_from_this(), generation, endpoint](const std::error_code& e) {
        if (e != asio::error::operation_aborted) self->connected(generation, endpoint, e);
    });
}

void TcpLink::connected(uint64_t generation, size_t endpoint, const std::error_code& error) {
    if (error) {
        connect(generation, endpoint + 1);
        return;
    }
    Bytes greeting;
    try {
        greeting = kvwire::encodeFrame({kvwire::kHello, 0, kvwire::encode(kvwire::HelloRequest{m_address.printer})});
    } catch (const std::bad_alloc&) {
        fail(generation, BCE_E_NO_MEMORY);
        return;
    }
    // Registered afresh: the connection's wait for writability stays
    // registered otherwise, and every write would wake this thread.
    std::error_code error2;
    auto protocol = m_socket.local_endpoint(error2).protocol();
    int fd = error2 ? -1 : m_socket.release(error2);
    if (fd >= 0) m_socket.assign(protocol, fd, error2);
    if (error2) {
        if (fd >= 0 && !m_socket.is_open()) ::close(fd);
        fail(generation, BCE_E_CHANNEL_DOWN);
        return;
    }
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        m_fd = m_socket.native_handle();
        m_out = std::move(greeting);
        m_outStart = 0;
        m_flushing = true;
    }
    awaitReadable(generation);
    flush(generation);
}

void TcpLink::awaitReadable(uint64_t generation) {
    // The first bytes land in the link's own small area: the read costs asio
    // no registration change, and an idle link no buffer.
    m_socket.async_receive(asio::buffer(m_first), [self = shared_from_this(), generation](const std::error_code& e,
                                                                                           size_t n) {
        if (e != asio::error::operation_aborted) self->received(generation, e, n);
    });
}

long TcpLink::take(const uint8_t* bytes, size_t n, std::vector<kvwire::Frame>& frames) {
    const uint8_t* data = bytes;
    size_t length = n;
    if (!m_in.empty()) {
        m_in.insert(m_in.end(), bytes, bytes + n);
        data = m_in.data();
        length = m_in.size();
    }
    size_t used = 0;
    long rc = BCE_OK;
    for (;;) {
        kvwire::Frame frame;
        size_t size = 0;
        kvwire::Decode result = kvwire::decodeFrame(data + used, length - used, &frame, &size);
        if (result == kvwire::Decode::NeedMore) break;
        if (result == kvwire::Decode::Malformed) {
            rc = BCE_E_BAD_REPLY;
            break;
        }
        frames.push_back(std::move(frame));
        used += size;
    }
    if (data == bytes)
        m_in.assign(bytes + used, bytes + length);
    else
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<long>(used));
    if (m_in.empty()) release(m_in);
    return rc;
}

void TcpLink::received(uint64_t generation, const std::error_code& error, size_t n) {
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
    }
    // Whole frames are taken out first and handled after: handling one may
    // close the link (a completion may close its printer).
    std::vector<kvwire::Frame> frames;
    long failure = error ? BCE_E_CONNECTION_RESET : BCE_OK;   // closed or reset by the server
    try {
        if (failure == BCE_OK) failure = take(m_first, n, frames);
        // A full area: more may have come, read until all is in (or others
        // deserve their turn).
        uint8_t* scratch = IoLoop::get().scratch();
        bool more = n == sizeof m_first;
        for (int turn = 0; more && turn < kReadsPerTurn && failure == BCE_OK; ++turn) {
            ssize_t got = ::recv(m_fd, scratch, IoLoop::kScratchSize, MSG_DONTWAIT);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (got <= 0) {
                failure = BCE_E_CONNECTION_RESET;
                break;
            }
            failure = take(scratch, static_cast<size_t>(got), frames);
            more = static_cast<size_t>(got) == IoLoop::kScratchSize;
        }
    } catch (const std::bad_alloc&) {
        failure = BCE_E_NO_MEMORY;
    }
    for (kvwire::Frame& frame : frames)
        if (!handle(generation, frame)) return;
    if (failure != BCE_OK)
        fail(generation, failure);
    else
        awaitReadable(generation);
}

bool TcpLink::handle(uint64_t generation, kvwire::Frame& frame) {
    State state;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return false;
        state = m_state;
    }
    if (state == State::Connecting) {
        // The server answers the greeting before anything else.
        if (frame.type != (kvwire::kHello | kvwire::kReplyBit)) {
            fail(generation, BCE_E_BAD_REPLY);
            return false;
        }
        greeted(generation, frame);
        return true;
    }
    if (frame.type == kvwire::kAlert) {
        kvwire::AlertNotice notice;
        if (!kvwire::decode(frame.payload, &notice)) {
            fail(generation, BCE_E_BAD_REPLY);
            return false;
        }
        try {
            if (m_owner) BceNotifyAlert(m_owner, notice.alertId, notice.family);
        } catch (...) {
            // An alert callback must not throw; the I/O thread carries on all the same.
        }
        return true;
    }
    if (!(frame.type & kvwire::kReplyBit) && frame.type != kvwire::kError) {
        fail(generation, BCE_E_BAD_REPLY);   // servers send no requests
        return false;
    }
    LinkCall* call = nullptr;
    {
        std::lock_guard guard(m_lock);
        if (auto it = m_pending.find(frame.id); it != m_pending.end()) {
            call = it->second;
            m_pending.erase(it);
        }
    }
    if (call) call->finish(BCE_OK, frame);   // else its request has timed out: dropped
    return true;
}

void TcpLink::greeted(uint64_t generation, const kvwire::Frame& frame) {
    kvwire::HelloReply answer;
    if (!kvwire::decode(frame.payload, &answer)) {
        fail(generation, BCE_E_BAD_REPLY);
        return;
    }
    if (answer.rc != BCE_OK) {
        fail(generation, answer.rc);   // no such printer on the server
        return;
    }
    std::vector<LinkCall*> waiting;
    long rc = BCE_OK;
    bool flushNow = false;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        try {
            m_out.insert(m_out.end(), m_held.begin(), m_held.end());
            m_state = State::Open;
            release(m_held);
            waiting.swap(m_awaitingConnection);
            flushNow = !m_flushing && m_outStart < m_out.size();
            m_flushing = m_flushing || flushNow;
        } catch (const std::bad_alloc&) {
            rc = BCE_E_NO_MEMORY;
            waiting = dropLocked(rc);
        }
    }
    if (flushNow) flush(generation);
    finishAll(waiting, rc);
}

void TcpLink::flush(uint64_t generation) {
    std::unique_lock guard(m_lock);
    if (generation != m_generation) return;
    while (m_outStart < m_out.size()) {
        ssize_t n = ::send(m_fd, m_out.data() + m_outStart, m_out.size() - m_outStart, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_outStart += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_socket.async_wait(asio::socket_base::wait_write,
                                [self = shared_from_this(), generation](const std::error_code& e) {
                                    if (!e) self->flush(generation);
                                });
            return;
        } else {
            guard.unlock();
            fail(generation, BCE_E_CONNECTION_RESET);
            return;
        }
    }
    release(m_out);
    m_outStart = 0;
    m_flushing = false;
}

void TcpLink::armTimer(Clock::time_point at) {
    m_timerArmed = true;
    m_timer.expires_at(at);
    m_timer.async_wait([self = shared_from_this()](const std::error_code& e) {
        if (!e) self->timerFired();
    });
}

void TcpLink::timerFired() {
    std::vector<LinkCall*> expired;
    {
        std::lock_guard guard(m_lock);
        if (m_closed) return;
        auto now = Clock::now();
        if (m_state == State::Connecting && now >= m_attemptDeadline) {
            expired = dropLocked(BCE_E_TIMEOUT);
        } else {
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (it->second->deadline <= now) {
                    expired.push_back(it->second);
                    it = m_pending.erase(it);
                } else {
                    ++it;
                }
            }
        }
        if (auto next = nextDeadline())
            armTimer(*next);
        else
            m_timerArmed = false;
    }
    finishAll(expired, BCE_E_TIMEOUT);
}

std::optional<Clock::time_point> TcpLink::nextDeadline() const {
    std::optional<Clock::time_point> next;
    if (m_state == State::Connecting) next = m_attemptDeadline;
    for (auto& [id, call] : m_pending)
        if (!next || call->deadline < *next) next = call->deadline;
    return next;
}

void TcpLink::fail(uint64_t generation, long rc) {
    std::vector<LinkCall*> calls;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation || m_state == State::Closed) return;
        calls = dropLocked(rc);
    }
    finishAll(calls, rc);
}

std::vector<LinkCall*> TcpLink::dropLocked(long rc) {
    std::vector<LinkCall*> calls;
    calls.reserve(m_pending.size() + m_awaitingConnection.size());
    for (auto& [id, call] : m_pending) calls.push_back(call);
    calls.insert(calls.end(), m_awaitingConnection.begin(), m_awaitingConnection.end());
    std::unordered_map<uint32_t, LinkCall*>().swap(m_pending);
    std::vector<LinkCall*>().swap(m_awaitingConnection);
    if (m_state == State::Connecting && rc == BCE_E_TIMEOUT) m_quietUntil = Clock::now() + m_timeout;
    m_state = State::Closed;
    ++m_generation;
    m_fd = -1;
    release(m_out);
    release(m_held);
    release(m_in);
    m_outStart = 0;
    m_flushing = false;
    std::error_code ignored;
    m_socket.close(ignored);
    return calls;
}

void TcpLink::finishAll(std::vector<LinkCall*>& calls, long rc) {
    kvwire::Frame none;
    for (LinkCall* call : calls) call->finish(rc, none);
}

}  // namespace zorbce
