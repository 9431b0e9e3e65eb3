// TcpLink: the drive of BceRunAsync (LinkDrive), a thread that completes its
// own asynchronous calls: it writes their requests together, reads their
// replies while it waits, and expires them past their deadline itself.
#include <semaphore.h>
#include <sys/socket.h>

#include <cerrno>

#include "deadline.h"
#include "tcp_link_common.h"

namespace zorbce {

using kvwire::Frame;
using namespace tcplink;

void TcpLink::writeHeld(LinkDrive& drive) {
    std::lock_guard guard(m_lock);
    if (m_state != State::Open || m_flushing || m_outStart == m_out.size()) return;   // nothing held, or the I/O thread writes
    // The reading before the requests go out, so that their replies are its own.
    if (m_reader == nullptr && !takeReading(drive)) watchAgain();   // the I/O thread reads their replies
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
    const timespec ts = realTimeAt(due.value_or(Clock::now() + m_timeout));
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
    if (m_state != State::Open || m_fd < 0 || !loopQuiet()) return false;
    size_t waiting = 0;
    for (auto& [id, call] : m_pending) waiting += call->waiter == &drive;
    if (waiting != drive.outstanding) return false;
    startReading(drive);
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

}  // namespace zorbce
