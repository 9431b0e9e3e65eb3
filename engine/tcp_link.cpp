#include "tcp_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

namespace zorbce {
namespace {

using kvwire::Bytes;
using kvwire::Frame;

// Buffers of an idle link larger than this are given back.
constexpr size_t kKeptBuffer = 4096;
// Reads of one readiness before the other connections get their turn.
constexpr int kReadsPerTurn = 16;
// What a caller reads at a time while it waits.
constexpr size_t kCallerReadSize = 4096;
// How late a blocking receive may return beyond the socket's receive
// time-out (the kernel counts it in clock ticks).
constexpr std::chrono::milliseconds kReceiveTimeoutSlack{20};

void release(Bytes& bytes) {
    bytes.clear();
    if (bytes.capacity() > kKeptBuffer) Bytes().swap(bytes);
}

bool isReply(const Frame& frame) { return (frame.type & kvwire::kReplyBit) || frame.type == kvwire::kError; }

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

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

}  // namespace

// A request a caller waits for. It waits on a semaphore, which (unlike a
// condition variable) may go as soon as the wait returns, even while
// sem_post is still returning: the caller never waits for a lock the
// thread that finished the call still holds.
class TcpLink::Waiter final : public LinkCall, public LinkWaiter {
public:
    Waiter() : LinkWaiter(false) { waiter = this; }

    void finish(long result, Frame& frame) override {
        rc = result;
        reply = std::move(frame);
        ready.store(true, std::memory_order_release);
        ::sem_post(&wake);
    }

    long rc = BCE_OK;
    Frame reply;
};

namespace {

// The addresses of host:port; numeric ones only when `numericOnly` (the I/O
// thread does not wait for a name server).
template <class Address>
std::vector<Address> resolve(const std::string& host, const std::string& port, bool numericOnly) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (numericOnly) hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    std::vector<Address> addresses;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) return addresses;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(list, ::freeaddrinfo);
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        Address a;
        if (ai->ai_addrlen > sizeof a.storage) continue;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        addresses.push_back(a);
    }
    return addresses;
}

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
        if (reads) {
            m_reader = call->waiter;
            m_readerHandedOn = false;
            armForReader();
        } else if (!call->waiter && m_reader == nullptr && m_unwatched) {
            arm();   // its reply is the I/O thread's to read
        }
        try {
            send(type, call->id, payload, sync ? Write::Now : call->waiter ? Write::Held : Write::Later);
        } catch (const std::bad_alloc&) {
            m_pending.erase(call->id);
            if (reads) {
                m_reader = nullptr;
                arm();
            }
            return BCE_E_NO_MEMORY;
        }
        watch();
        return BCE_OK;
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

void TcpLink::readWhileWaiting(LinkWaiter& waiter) {
    int fd;
    bool blocks;
    uint64_t generation;
    Clock::time_point deadline;
    {
        std::lock_guard guard(m_lock);
        if (waiter.drive) {
            if (m_reader == nullptr && !takeReading(static_cast<LinkDrive&>(waiter))) {
                if (m_unwatched) arm();   // the I/O thread reads its replies
                return;
            }
            deadline = driveDeadline(static_cast<LinkDrive&>(waiter)).value_or(Clock::now() + m_timeout);
        } else {
            deadline = static_cast<Waiter&>(waiter).deadline;
        }
        if (m_reader != &waiter) return;   // it waits for the reader's or the I/O thread's hand-over
        fd = m_fd;
        blocks = m_blocks;
        generation = m_generation;
    }
    uint8_t buffer[kCallerReadSize];
    long failure = BCE_OK;
    bool handedOn = false;   // a reply for it went to the I/O thread, after frames before it
    std::vector<Delivery> deliveries;
    while (!waiter.ready.load(std::memory_order_acquire) && failure == BCE_OK && !handedOn) {
        // Far from the deadline one blocking receive waits and reads (it
        // gives up after the socket's receive time-out); near it, poll keeps
        // the deadline.
        ssize_t n;
        if (blocks && deadline - Clock::now() > m_blockingRead + kReceiveTimeoutSlack) {
            n = ::recv(fd, buffer, sizeof buffer, 0);
        } else {
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, msUntil(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;   // the deadline
            n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        }
        int error = n < 0 ? errno : 0;
        {
            std::lock_guard guard(m_lock);
            if (generation != m_generation) break;   // dropped meanwhile: the call is finished
            try {
                failure = takeReceived(n, error, buffer, deliveries);
            } catch (const std::bad_alloc&) {
                failure = BCE_E_NO_MEMORY;
            }
            handedOn = m_readerHandedOn;
        }
        deliver(deliveries);
    }
    {
        std::lock_guard guard(m_lock);
        handOnReading(&waiter);
        if (auto it = std::find(m_orphans.begin(), m_orphans.end(), fd); it != m_orphans.end()) {
            m_orphans.erase(it);   // dropped while this caller read it
            ::close(fd);
        }
    }
    if (failure != BCE_OK) later([self = shared_from_this(), generation, failure] { self->fail(generation, failure); });
}

void TcpLink::writeHeld(LinkDrive& drive) {
    std::lock_guard guard(m_lock);
    if (m_state != State::Open || m_flushing || m_outStart == m_out.size()) return;   // nothing held, or the I/O thread writes
    // The reading before the requests go out, so that their replies are its own.
    if (m_reader == nullptr && !takeReading(drive) && m_unwatched) arm();
    ssize_t n;
    do n = ::send(m_fd, m_out.data() + m_outStart, m_out.size() - m_outStart, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n > 0) m_outStart += static_cast<size_t>(n);
    if (m_outStart == m_out.size()) {
        release(m_out);
        m_outStart = 0;
        return;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        uint64_t generation = m_generation;
        m_flushing = later([self = shared_from_this(), generation] { self->fail(generation, BCE_E_CONNECTION_RESET); });
        return;
    }
    postFlush();   // the rest when the socket takes more
}

void TcpLink::await(LinkDrive& drive) {
    readWhileWaiting(drive);
    if (drive.ready.load(std::memory_order_acquire)) return;
    std::optional<Clock::time_point> due;
    {
        std::lock_guard guard(m_lock);
        due = driveDeadline(drive);
    }
    // Its calls not pending are being finished: they come without a deadline of theirs.
    auto until = due.value_or(Clock::now() + m_timeout);
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now());
    auto at = std::chrono::system_clock::now().time_since_epoch() + std::max(left, std::chrono::nanoseconds(0));
    timespec ts{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(at).count()),
                static_cast<long>(at.count() % 1000000000)};
    int rc;
    while ((rc = ::sem_timedwait(&drive.wake, &ts)) != 0 && errno == EINTR) {
    }
    if (rc == 0 || !due) return;
    // Past a deadline: its calls that are due expire here, should the I/O
    // thread's timer not have fired. Listed through nextHeld: no memory needed.
    LinkCall* expired = nullptr;
    {
        std::lock_guard guard(m_lock);
        auto now = Clock::now();
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->second->waiter == &drive && it->second->deadline <= now) {
                it->second->nextHeld = expired;
                expired = it->second;
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    Frame none;
    while (expired != nullptr) {
        LinkCall* next = expired->nextHeld;
        expired->finish(BCE_E_TIMEOUT, none);
        expired = next;
    }
}

bool TcpLink::takeReading(LinkDrive& drive) {
    // Only when every call of the drive still waits for its reply: one on
    // its way through another thread would be held while the drive polls
    // the socket, which nothing would wake.
    if (m_state != State::Open || m_fd < 0 || !m_toLoop.empty() || m_handling) return false;
    size_t waiting = 0;
    for (auto& [id, call] : m_pending) waiting += call->waiter == &drive;
    if (waiting != drive.outstanding) return false;
    m_reader = &drive;
    m_readerHandedOn = false;
    armForReader();
    return true;
}

std::optional<Clock::time_point> TcpLink::driveDeadline(const LinkDrive& drive) const {
    std::optional<Clock::time_point> due;
    for (auto& [id, call] : m_pending)
        if (call->waiter == &drive && (!due || call->deadline < *due)) due = call->deadline;
    return due;
}

void TcpLink::leave(LinkDrive& drive) {
    std::lock_guard guard(m_lock);
    handOnReading(&drive);
}

long TcpLink::outcome(Waiter& call, Frame* reply) {
    // sem_timedwait counts on the real-time clock; the I/O thread keeps the
    // deadline too, on the steady clock.
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(call.deadline - Clock::now());
    auto until = std::chrono::system_clock::now().time_since_epoch() + std::max(left, std::chrono::nanoseconds(0));
    timespec at{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(until).count()),
                static_cast<long>(until.count() % 1000000000)};
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

void TcpLink::handOnReading(LinkWaiter* from) {
    if (m_reader != from) return;
    m_reader = nullptr;
    m_readerHandedOn = false;
    if (m_state == State::Open && m_fd >= 0) {
        // To another caller waiting for its reply, which reads on; else the
        // I/O thread reads it again. Not while frames wait for the I/O
        // thread: the caller's reply may be among them, and it would poll the
        // socket while the I/O thread finishes its call. Drives take the
        // reading themselves, when they may (takeReading).
        bool quiet = m_toLoop.empty() && !m_handling;
        bool loopReads = false;   // a reply is the I/O thread's to read
        for (auto& [id, call] : m_pending) {
            if (quiet && call->waiter && !call->waiter->drive && call->waiter != from) {
                m_reader = call->waiter;
                ::sem_post(&m_reader->wake);
                return;
            }
            loopReads = loopReads || !call->waiter || call->waiter->drive;
        }
        if (loopReads)
            arm();
        else
            unwatchForNow();
    }
}

void TcpLink::armForReader() {
    if (m_unwatched)
        m_readRecently = true;   // unwatched for input already
    else
        arm();
}

void TcpLink::unwatchForNow() {
    // The socket is watched as for a reader, without input: it stays so
    // while callers come and go, and the I/O thread watches it again once
    // the link has been idle for a tick (see idle()).
    m_unwatched = true;
    m_readRecently = true;
    if (!m_idleQueued) m_idleQueued = IoLoop::get().callWhenIdle(shared_from_this());
    if (!m_idleQueued) arm();
}

bool TcpLink::idle(bool now) {
    std::lock_guard guard(m_lock);
    bool unwatched = m_unwatched && m_fd >= 0;
    if (unwatched && !now && (m_reader != nullptr || m_readRecently)) {
        m_readRecently = false;
        return false;   // in use: a tick later
    }
    m_idleQueued = false;
    if (unwatched && m_reader == nullptr) arm();
    return true;
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

long TcpLink::prepare(std::unique_lock<std::mutex>& guard) {
    if (m_state != State::Closed) return BCE_OK;
    if (Clock::now() < m_quietUntil) return BCE_E_TIMEOUT;
    // A host name is resolved again for every connection, by the thread that
    // asks for it: the I/O thread must not wait for a name server, so it uses
    // the addresses found last (or a numeric address).
    if (!IoLoop::onIoThread()) {
        guard.unlock();
        auto endpoints = resolve<Address>(m_address.host, m_address.port, false);
        guard.lock();
        if (m_closed) return BCE_E_BAD_HANDLE;
        if (m_state != State::Closed) return BCE_OK;   // another thread got there first
        if (endpoints.empty()) return BCE_E_CHANNEL_DOWN;
        m_endpoints = std::move(endpoints);
    } else if (m_endpoints.empty()) {
        m_endpoints = resolve<Address>(m_address.host, m_address.port, true);
        if (m_endpoints.empty()) return BCE_E_CHANNEL_DOWN;
    }
    uint64_t generation = m_generation + 1;
    if (!later([self = shared_from_this(), generation] { self->dial(generation, 0); })) return BCE_E_NO_MEMORY;
    m_generation = generation;
    m_state = State::Dialling;
    m_attemptDeadline = Clock::now() + m_timeout;
    watch();
    return BCE_OK;
}

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
    m_unwatched = false;
}

long TcpLink::receive(uint8_t* buffer, size_t size, std::vector<Delivery>& deliveries, size_t* received) {
    ssize_t n = ::recv(m_fd, buffer, size, MSG_DONTWAIT);
    *received = n > 0 ? static_cast<size_t>(n) : 0;
    return takeReceived(n, n < 0 ? errno : 0, buffer, deliveries);
}

long TcpLink::takeReceived(ssize_t n, int error, const uint8_t* buffer, std::vector<Delivery>& deliveries) {
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)) return BCE_OK;   // nothing yet
    if (n <= 0) return BCE_E_CONNECTION_RESET;   // closed or reset by the server
    std::vector<Frame> frames;
    long rc = take(buffer, static_cast<size_t>(n), frames);
    for (Frame& frame : frames) route(frame, deliveries);
    return rc;
}

void TcpLink::route(Frame& frame, std::vector<Delivery>& deliveries) {
    if (m_toLoop.empty() && !m_handling && m_state == State::Open && isReply(frame)) {
        auto it = m_pending.find(frame.id);
        if (it != m_pending.end() && it->second->waiter) {
            deliveries.push_back({it->second, std::move(frame)});
            m_pending.erase(it);
            return;
        }
    }
    if (m_reader && isReply(frame))
        if (auto it = m_pending.find(frame.id); it != m_pending.end() && it->second->waiter == m_reader)
            m_readerHandedOn = true;
    m_toLoop.push_back(std::move(frame));
    if (!IoLoop::onIoThread() && !m_handlingPosted) {
        uint64_t generation = m_generation;
        m_handlingPosted = later([self = shared_from_this(), generation] { self->handleQueued(generation); });
    }
}

long TcpLink::take(const uint8_t* bytes, size_t n, std::vector<Frame>& frames) {
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
        Frame frame;
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
    if (attempting && rc == BCE_E_TIMEOUT) m_quietUntil = Clock::now() + m_timeout;
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
    m_readerHandedOn = false;
    m_blocks = false;
    m_unwatched = false;
    m_readRecently = false;
    release(m_out);
    release(m_held);
    release(m_in);
    m_toLoop.clear();   // (a new deque would need memory)
    m_outStart = 0;
    m_flushing = false;
    m_awaitingWritable = false;
    m_handling = false;
    m_handlingPosted = false;
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

void TcpLink::dial(uint64_t generation, size_t endpoint) {
    Address to;
    {
        std::unique_lock guard(m_lock);
        if (generation != m_generation || m_state != State::Dialling) return;
        if (endpoint >= m_endpoints.size()) {
            guard.unlock();
            fail(generation, BCE_E_CHANNEL_DOWN);   // every address refused
            return;
        }
        to = m_endpoints[endpoint];
        m_endpoint = endpoint;
    }
    int fd = ::socket(to.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        fail(generation, BCE_E_CHANNEL_DOWN);   // no descriptor to be had
        return;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to.storage), to.length) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        dial(generation, endpoint + 1);
        return;
    }
    std::unique_lock guard(m_lock);
    if (generation != m_generation) {
        ::close(fd);
        return;
    }
    m_token = IoLoop::get().add(fd, EPOLLOUT, std::weak_ptr<IoLoop::Watcher>(shared_from_this()));
    if (m_token == 0) {
        ::close(fd);
        guard.unlock();
        fail(generation, BCE_E_CHANNEL_DOWN);
        return;
    }
    m_fd = fd;
}

void TcpLink::dialled(uint64_t generation) {
    int error = 0;
    socklen_t length = sizeof error;
    size_t next = 0;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error != 0) {
            IoLoop::get().remove(m_fd, m_token);
            ::close(m_fd);
            m_fd = -1;
            next = m_endpoint + 1;
        }
    }
    if (error != 0) {
        dial(generation, next);
        return;
    }
    Bytes greeting;
    try {
        greeting = kvwire::encodeFrame({kvwire::kHello, 0, kvwire::encode(kvwire::HelloRequest{m_address.printer})});
    } catch (const std::bad_alloc&) {
        fail(generation, BCE_E_NO_MEMORY);
        return;
    }
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        m_blocks = blockingReads(m_fd);
        m_state = State::Greeting;
        m_out = std::move(greeting);
        m_outStart = 0;
        m_flushing = true;
    }
    flush(generation);
}

bool TcpLink::blockingReads(int fd) const {
    // Every other read and write passes MSG_DONTWAIT.
    if (m_blockingRead.count() == 0) return false;
    timeval limit{static_cast<time_t>(m_blockingRead.count() / 1000), static_cast<suseconds_t>(m_blockingRead.count() % 1000 * 1000)};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void TcpLink::readOnLoop(uint64_t generation) {
    std::vector<Delivery> deliveries;
    long failure = BCE_OK;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation || m_reader != nullptr) return;   // a caller reads it
        try {
            for (int turn = 0; turn < kReadsPerTurn && failure == BCE_OK; ++turn) {
                size_t received = 0;
                failure = receive(IoLoop::get().scratch(), IoLoop::kScratchSize, deliveries, &received);
                if (received < IoLoop::kScratchSize) break;   // all that had come
            }
        } catch (const std::bad_alloc&) {
            failure = BCE_E_NO_MEMORY;
        }
    }
    deliver(deliveries);
    handleQueued(generation);
    if (failure != BCE_OK) fail(generation, failure);
}

void TcpLink::handleQueued(uint64_t generation) {
    // Frames are handed on one at a time, outside the lock: handling one may
    // close the link (a completion may close its printer).
    for (;;) {
        Frame frame;
        {
            std::lock_guard guard(m_lock);
            if (generation != m_generation) return;
            m_handlingPosted = false;
            if (m_toLoop.empty()) {
                m_handling = false;
                return;
            }
            frame = std::move(m_toLoop.front());
            m_toLoop.pop_front();
            m_handling = true;
        }
        if (!handle(generation, frame)) return;
    }
}

bool TcpLink::handle(uint64_t generation, Frame& frame) {
    State state;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return false;
        state = m_state;
    }
    if (state == State::Greeting) {
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
    if (!isReply(frame)) {
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

void TcpLink::greeted(uint64_t generation, const Frame& frame) {
    kvwire::HelloReply answer;
    if (!kvwire::decode(frame.payload, &answer)) {
        fail(generation, BCE_E_BAD_REPLY);
        return;
    }
    if (answer.rc != BCE_OK) {
        fail(generation, answer.rc);   // no such printer on the server
        return;
    }
    Taken waiting;
    long rc = BCE_OK;
    bool flushNow = false;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        try {
            m_out.insert(m_out.end(), m_held.begin(), m_held.end());
            m_state = State::Open;
            release(m_held);
            waiting.awaiting.swap(m_awaitingConnection);
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
