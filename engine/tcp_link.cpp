// TcpLink's core: starting calls and waiting for them, writing requests,
// the time-outs and dropping the connection (the other files: see
// tcp_link_common.h).
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "deadline.h"
#include "tcp_link_common.h"

namespace zorbce {
namespace {

using kvwire::Bytes;
using kvwire::Frame;
using namespace tcplink;

}  // namespace

TcpLink::TcpLink(TcpAddress address, const BcePrinter* owner)
    : m_address(std::move(address)),
      m_timeout(m_address.timeoutMs),
      m_blockingRead(m_timeout >= 4 * kReceiveTimeoutSlack ? m_timeout / 2 : std::chrono::milliseconds(0)),
      m_owner(owner),
      m_timer(IoLoop::get().context()) {}

TcpLink::~TcpLink() = default;

// ---- the caller's side ----

long TcpLink::exchange(uint8_t type, const Bytes& payload, Frame* reply) {
    Waiter call;
    long rc = start(&call, type, payload);
    if (rc != BCE_OK) return rc;
    readWhileWaiting(call);
    return outcome(call, reply);
}

long TcpLink::connect() {
    Waiter call;
    long rc = start(&call, 0, {});
    if (rc != BCE_OK) return rc;
    Frame none;
    return outcome(call, &none);
}

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
            guard.unlock();
            Frame none;
            call->finish(BCE_OK, none);   // connected already
            return BCE_OK;
        }
        do call->id = m_nextId++;
        while (call->id == 0 || m_pending.count(call->id));
        m_pending.emplace(call->id, call);
        // A caller that waits reads the connection itself, when nobody else
        // does: from before its request goes out, so that its reply is its own.
        bool sync = call->waiter && !call->waiter->drive;
        bool reads = sync && m_state == State::Open && m_reader == nullptr;
        if (reads)
            startReading(*call->waiter);
        else if (!call->waiter)
            watchAgain();   // its reply is the I/O thread's to read
        try {
            send(type, call->id, payload, sync ? Write::Now : call->waiter ? Write::Held : Write::Later);
        } catch (const std::bad_alloc&) {
            m_pending.erase(call->id);
            if (reads) {
                m_reader = nullptr;
                arm();   // -> Loop
            }
            return BCE_E_NO_MEMORY;
        }
        watch();
        return BCE_OK;
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

long TcpLink::outcome(Waiter& call, Frame* reply) {
    // The I/O thread keeps the deadline too, on the steady clock.
    const timespec at = realTimeAt(call.deadline);
    // The semaphore is posted when the call is finished, and when the reading
    // of the connection is handed to this caller.
    while (!call.ready.load(std::memory_order_acquire)) {
        int rc;
        while ((rc = ::sem_timedwait(&call.wake, &at)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            if (abandon(&call)) return BCE_E_TIMEOUT;
            while (!call.ready.load(std::memory_order_acquire)) ::sem_wait(&call.wake);   // being finished now
            break;
        }
        readWhileWaiting(call);   // when handed the reading
    }
    {
        std::lock_guard guard(m_lock);
        handOnReading(&call);   // handed the reading as it was finished
    }
    *reply = std::move(call.reply);
    return call.rc;
}

bool TcpLink::abandon(LinkCall* call) {
    std::lock_guard guard(m_lock);
    if (auto it = m_pending.find(call->id); it != m_pending.end() && it->second == call) {
        m_pending.erase(it);
        handOnReading(call->waiter);
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
    auto work = [this] {
        Taken calls;
        {
            std::lock_guard guard(m_lock);
            m_closed = true;
            m_owner = nullptr;
            calls = dropLocked(BCE_E_BAD_HANDLE);
            m_timer.cancel();
        }
        finishAll(calls, BCE_E_BAD_HANDLE);
    };
    // A close cannot fail: without memory to hand it to the I/O thread it
    // is tried again until there is.
    for (;;) {
        try {
            IoLoop::get().runAndWait(work);
            return;
        } catch (const std::bad_alloc&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// ---- with m_lock held ----

void TcpLink::send(uint8_t type, uint32_t id, const Bytes& payload, Write write) {
    uint8_t header[kvwire::kHeaderSize];
    kvwire::encodeHeader(header, type, id, static_cast<uint32_t>(payload.size()));
    size_t sent = 0;
    if (m_state != State::Open) {
        m_held.reserve(m_held.size() + sizeof header + payload.size());
    } else {
        // Room first, so that whatever does not go out now can be kept.
        m_out.reserve(m_out.size() + sizeof header + payload.size());
        if (write == Write::Now && !m_flushing && m_outStart == m_out.size()) {
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
    // A drive's requests wait for it to write them together, unless the I/O thread writes anyway.
    if (m_state == State::Open && !m_flushing && write != Write::Held) postFlush();
}

void TcpLink::postFlush() {
    uint64_t generation = m_generation;
    m_flushing = later([self = shared_from_this(), generation] { self->flush(generation); });
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

void TcpLink::arm() {
    uint32_t events = 0;
    if (m_state == State::Dialling) {
        events = EPOLLOUT;
    } else {
        if (m_reader == nullptr) events |= EPOLLIN;
        if (m_awaitingWritable) events |= EPOLLOUT;
    }
    IoLoop::get().arm(m_fd, m_token, events);
    m_reading = m_reader == nullptr ? Reading::Loop : Reading::Caller;
}

std::optional<Clock::time_point> TcpLink::nextDeadline() const {
    std::optional<Clock::time_point> next;
    if (m_state == State::Dialling || m_state == State::Greeting) next = m_attemptDeadline;
    for (auto& [id, call] : m_pending)
        if (!next || call->deadline < *next) next = call->deadline;
    return next;
}

TcpLink::Taken TcpLink::dropLocked(long rc) {
    Taken calls;
    calls.pending.swap(m_pending);
    calls.awaiting.swap(m_awaitingConnection);
    bool attempting = m_state == State::Dialling || m_state == State::Greeting;
    if (attempting && rc == BCE_E_TIMEOUT) {
        m_quietUntil = Clock::now() + m_timeout;
        m_failure = "no answer in time";
    }
    m_state = State::Closed;
    ++m_generation;
    if (m_fd >= 0) {
        IoLoop::get().remove(m_fd, m_token);
        if (m_reader != nullptr) {
            // A caller polls it: the shutdown wakes it, and it closes it.
            ::shutdown(m_fd, SHUT_RDWR);
            m_orphans.push_back(m_fd);
        } else {
            ::close(m_fd);
        }
        m_fd = -1;
    }
    m_reader = nullptr;
    m_reading = Reading::Loop;   // m_idleQueued stays: the loop's call comes all the same
    m_blocks = false;
    release(m_out);
    release(m_held);
    m_in.clear();
    m_toLoop.clear();   // (a new deque would need memory)
    m_outStart = 0;
    m_flushing = false;
    m_awaitingWritable = false;
    m_handing = Handing::Idle;
    return calls;
}

// ---- I/O thread ----

void TcpLink::ready(uint32_t events) {
    uint64_t generation;
    State state;
    {
        std::lock_guard guard(m_lock);
        generation = m_generation;
        state = m_state;
    }
    if (state == State::Dialling) {
        dialled(generation);
    } else {
        if (events & EPOLLOUT) flush(generation);
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) readOnLoop(generation);
    }
    std::lock_guard guard(m_lock);
    if (generation == m_generation && m_fd >= 0) arm();
}

void TcpLink::flush(uint64_t generation) {
    std::unique_lock guard(m_lock);
    if (generation != m_generation || m_fd < 0) return;
    while (m_outStart < m_out.size()) {
        ssize_t n = ::send(m_fd, m_out.data() + m_outStart, m_out.size() - m_outStart, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_outStart += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_awaitingWritable = true;   // the rest when the socket takes more
            arm();
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
    m_awaitingWritable = false;
}

void TcpLink::armTimer(Clock::time_point at) {
    // Without memory for the wait the timer stays unarmed: a waiting caller
    // still keeps its own deadline, and the next request arms it again.
    try {
        m_timer.expires_at(at);
        m_timer.async_wait([self = shared_from_this()](const std::error_code& e) {
            if (!e) self->timerFired();
        });
        m_timerArmed = true;
    } catch (const std::bad_alloc&) {
        m_timerArmed = false;
    }
}

void TcpLink::timerFired() {
    Taken expired;
    {
        std::lock_guard guard(m_lock);
        if (m_closed) return;
        auto now = Clock::now();
        if ((m_state == State::Dialling || m_state == State::Greeting) && now >= m_attemptDeadline) {
            expired = dropLocked(BCE_E_TIMEOUT);
        } else {
            auto due = std::count_if(m_pending.begin(), m_pending.end(),
                                     [&](const auto& entry) { return entry.second->deadline <= now; });
            try {
                expired.expired.reserve(static_cast<size_t>(due));
            } catch (const std::bad_alloc&) {
                armTimer(now + std::chrono::milliseconds(10));   // no memory to list them: soon again
                return;
            }
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (it->second->deadline <= now) {
                    expired.expired.push_back(it->second);
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

void TcpLink::fail(uint64_t generation, long rc) {
    Taken calls;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation || m_state == State::Closed) return;
        calls = dropLocked(rc);
    }
    finishAll(calls, rc);
}

void TcpLink::deliver(std::vector<Delivery>& deliveries) {
    for (Delivery& d : deliveries) d.call->finish(BCE_OK, d.frame);
    deliveries.clear();
}

void TcpLink::finishAll(Taken& calls, long rc) {
    Frame none;
    for (auto& [id, call] : calls.pending) call->finish(rc, none);
    for (LinkCall* call : calls.awaiting) call->finish(rc, none);
    for (LinkCall* call : calls.expired) call->finish(rc, none);
}

}  // namespace zorbce
