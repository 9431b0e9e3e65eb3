// TcpLink: reading the connection. Whoever holds the reading (a waiting
// caller, a drive, or else the I/O thread) takes the frames out of what it
// receives and hands each on in stream order (see tcp_link.h).
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "deadline.h"
#include "tcp_link_common.h"

namespace zorbce {
namespace {

using kvwire::Frame;
using namespace tcplink;

// Reads of one readiness before the other connections get their turn.
constexpr int kReadsPerTurn = 16;
// What a caller reads at a time while it waits.
constexpr size_t kCallerReadSize = 4096;

}  // namespace

void TcpLink::readWhileWaiting(LinkWaiter& waiter) {
    int fd;
    bool blocks;
    uint64_t generation;
    Clock::time_point deadline;
    {
        std::lock_guard guard(m_lock);
        if (waiter.drive) {
            if (m_reader == nullptr && !takeReading(static_cast<LinkDrive&>(waiter))) {
                watchAgain();   // the I/O thread reads its replies
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
                failure = takeReceived(n, error, buffer, deliveries, handedOn);
            } catch (const std::bad_alloc&) {
                failure = BCE_E_NO_MEMORY;
            }
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

// ---- the transitions of m_reading (the table in tcp_link.h), with m_lock held ----

void TcpLink::startReading(LinkWaiter& reader) {
    m_reader = &reader;
    if (resting())
        m_reading = Reading::CallerResting;   // input unwatched already: no system call
    else
        arm();   // -> Caller: watched without input
}

void TcpLink::handOnReading(LinkWaiter* from) {
    if (m_reader != from) return;
    m_reader = nullptr;
    if (m_state != State::Open || m_fd < 0) {
        m_reading = Reading::Loop;   // no connection
        return;
    }
    // To another caller waiting for its reply, which reads on (the state
    // stays); else the I/O thread reads it again. Not while frames wait for
    // the I/O thread: the caller's reply may be among them, and it would
    // poll the socket while the I/O thread finishes its call. Drives take the
    // reading themselves, when they may (takeReading).
    bool quiet = loopQuiet();
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
        arm();   // -> Loop
    else
        rest();
}

void TcpLink::rest() {
    // The socket stays watched as for a reader, without input, while callers
    // come and go; the idle ticks watch it again once none came for a tick.
    m_reading = Reading::Resting;
    if (!m_idleQueued) m_idleQueued = IoLoop::get().callWhenIdle(shared_from_this());
    if (!m_idleQueued) arm();   // no memory for the ticks: -> Loop at once
}

void TcpLink::watchAgain() {
    if (resting()) arm();   // -> Loop
}

bool TcpLink::idle(bool now) {
    std::lock_guard guard(m_lock);
    if (m_fd >= 0 && !now) {
        if (m_reading == Reading::CallerResting) return false;   // in use: a tick later
        if (m_reading == Reading::Resting) {
            m_reading = Reading::Quiet;   // read since the last tick: a tick later
            return false;
        }
    }
    m_idleQueued = false;
    if (m_fd >= 0 && resting()) arm();   // Quiet, or no tick to come: -> Loop
    return true;
}

long TcpLink::receive(uint8_t* buffer, size_t size, std::vector<Delivery>& deliveries, size_t* received) {
    ssize_t n = ::recv(m_fd, buffer, size, MSG_DONTWAIT);
    *received = n > 0 ? static_cast<size_t>(n) : 0;
    bool readerReplyQueued = false;   // no reader: the I/O thread reads
    return takeReceived(n, n < 0 ? errno : 0, buffer, deliveries, readerReplyQueued);
}

long TcpLink::takeReceived(ssize_t n, int error, const uint8_t* buffer, std::vector<Delivery>& deliveries,
                           bool& readerReplyQueued) {
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)) return BCE_OK;   // nothing yet
    if (n <= 0) return BCE_E_CONNECTION_RESET;   // closed or reset by the server
    m_in.feed(buffer, static_cast<size_t>(n));
    for (;;) {
        Frame frame;
        switch (m_in.next(&frame)) {
        case kvwire::FrameAssembler::Result::Frame:
            if (route(frame, deliveries)) readerReplyQueued = true;
            break;
        case kvwire::FrameAssembler::Result::NeedMore:
            return BCE_OK;
        case kvwire::FrameAssembler::Result::Malformed:
        case kvwire::FrameAssembler::Result::Oversized:
            return BCE_E_BAD_REPLY;
        }
    }
}

bool TcpLink::route(Frame& frame, std::vector<Delivery>& deliveries) {
    if (loopQuiet() && m_state == State::Open && isReply(frame)) {
        auto it = m_pending.find(frame.id);
        if (it != m_pending.end() && it->second->waiter) {
            deliveries.push_back({it->second, std::move(frame)});
            m_pending.erase(it);
            return false;
        }
    }
    bool readers = false;   // a reply for the reader, behind frames for the I/O thread
    if (m_reader && isReply(frame))
        if (auto it = m_pending.find(frame.id); it != m_pending.end() && it->second->waiter == m_reader)
            readers = true;
    m_toLoop.push_back(std::move(frame));
    if (!IoLoop::onIoThread() && m_handing != Handing::Posted) {
        uint64_t generation = m_generation;
        if (later([self = shared_from_this(), generation] { self->handleQueued(generation); }))
            m_handing = Handing::Posted;
    }
    return readers;
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
            if (m_toLoop.empty()) {
                m_handing = Handing::Idle;
                return;
            }
            frame = std::move(m_toLoop.front());
            m_toLoop.pop_front();
            m_handing = Handing::Running;
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

}  // namespace zorbce
