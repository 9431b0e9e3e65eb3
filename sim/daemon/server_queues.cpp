// kvprtsimd's server: what a connection queues. Its replies are written as
// the socket takes them, what it holds is charged against its bound and the
// daemon's, and a connection past a bound or a time-out is closed with all it
// had queued.
#include <algorithm>
#include <mutex>

#include "server.h"

namespace kvsimd {
namespace {

using asio::ip::tcp;

void release(kvwire::Bytes& bytes) { kvwire::Bytes().swap(bytes); }

}  // namespace

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
    size_t now = c->frames.capacity() + c->out.capacity() + c->jobBytes;
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
    c->frames.clear();
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

}  // namespace kvsimd
