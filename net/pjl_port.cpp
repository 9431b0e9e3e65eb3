// PJL exchanges on a printer's print port, one at a time, each on a short
// connection of its own or all on the connection held for the status.
#include "pjl_port.h"

#include <algorithm>
#include <array>

#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "gateway.h"
#include "kvprtobj/zorbce.h"

namespace kvnet {
namespace {
constexpr size_t kReadChunk = 4096;

// What a held connection sends first: the status from now on, and now.
std::string holdRequest() {
    pjl::Request r;
    r.ustatus("DEVICE", "ON");
    r.info("STATUS");
    return r.bytes().value_or(std::string());
}

// True for the reply to INFO STATUS, which only a held connection asks.
bool statusReply(std::string_view reply) {
    auto c = pjl::parseCommand(reply.substr(0, std::min(reply.find('\n'), reply.size())));
    return c && c->verb == "INFO" && c->words.size() == 1 && c->words[0] == "STATUS";
}
}  // namespace

// One connection: slot, lookup, connect, then writes in order and replies
// as they come, until it fails or is closed. A watchdog bounds the opening
// and any part of a reply left waiting.
struct PjlPort::Link : std::enable_shared_from_this<Link> {
    using tcp = asio::ip::tcp;

    Link(std::weak_ptr<PjlPort> owner, bool isHeld)
        : port(std::move(owner)),
          held(isHeld),
          resolver(Gateway::instance().context()),
          socket(Gateway::instance().context()),
          watchdog(Gateway::instance().context()) {}

    std::weak_ptr<PjlPort> port;
    const bool held;
    tcp::resolver resolver;
    tcp::socket socket;
    asio::steady_timer watchdog;
    bool watching = false;
    uint64_t watches = 0;
    tcp::resolver::results_type endpoints;
    tcp::resolver::results_type::iterator nextEndpoint;
    pjl::ReplyReader reader;
    std::array<char, kReadChunk> buffer{};
    std::deque<std::string> outbox;   // front: being written
    bool holdsSlot = false;
    bool open = false;
    bool over = false;   // failed or closed: later handlers do nothing

    // A handler that does nothing once the link is over.
    template <class Handler>
    auto guarded(Handler handler) {
        return [self = shared_from_this(), handler](auto&&... args) {
            if (!self->over) (self.get()->*handler)(std::forward<decltype(args)>(args)...);
        };
    }

    void start(const std::string& host, uint16_t portNumber, unsigned timeoutMs) {
        watch(timeoutMs, BCE_E_TIMEOUT);
        Gateway::instance().acquireSlot([self = shared_from_this(), host, portNumber] {
            self->holdsSlot = true;
            if (self->over) return self->close();
            self->resolver.async_resolve(host, std::to_string(portNumber), self->guarded(&Link::resolved));
        });
    }

    // Fails the link with `rc` unless unwatch() comes first.
    void watch(unsigned timeoutMs, long rc) {
        watching = true;
        watchdog.expires_after(std::chrono::milliseconds(timeoutMs));
        watchdog.async_wait([self = shared_from_this(), rc, id = ++watches](std::error_code ec) {
            if (!ec && self->watches == id && !self->over) self->fail(rc);
        });
    }
    void unwatch() {
        watching = false;
        ++watches;   // a watch that already fired does nothing
        watchdog.cancel();
    }

    void resolved(std::error_code ec, tcp::resolver::results_type found) {
        if (ec) return fail(unreachableResult(ec));
        endpoints = std::move(found);
        nextEndpoint = endpoints.begin();
        dial({});
    }

    // The addresses in turn; a socket that cannot be opened ends the dial.
    void dial(std::error_code last) {
        if (nextEndpoint == endpoints.end()) return fail(unreachableResult(last));
        const tcp::endpoint endpoint = (nextEndpoint++)->endpoint();
        std::error_code ec;
        socket.close(ec);
        socket.open(endpoint.protocol(), ec);
        if (ec) return fail(unreachableResult(ec));
        socket.async_connect(endpoint, guarded(&Link::connected));
    }

    void connected(std::error_code ec) {
        if (ec) return dial(ec);
        open = true;
        unwatch();
        receive();
        if (held) write(holdRequest());
        if (auto owner = port.lock()) owner->linkOpen(this);
    }

    void write(std::string bytes) {
        outbox.push_back(std::move(bytes));
        if (outbox.size() == 1) writeFront();
    }
    void writeFront() { asio::async_write(socket, asio::buffer(outbox.front()), guarded(&Link::written)); }
    void written(std::error_code ec, size_t) {
        if (ec) return fail(BCE_E_CONNECTION_RESET);
        outbox.pop_front();
        if (!outbox.empty()) writeFront();
    }

    void receive() { socket.async_read_some(asio::buffer(buffer), guarded(&Link::received)); }

    void received(std::error_code ec, size_t n) {
        if (ec) return fail(BCE_E_CONNECTION_RESET);
        reader.feed(std::string_view(buffer.data(), n));
        std::string reply;
        auto self = shared_from_this();   // the port may let the link go while it is told
        for (;;) {
            switch (reader.next(&reply)) {
            case pjl::ReplyReader::Status::Reply:
                if (auto owner = port.lock()) owner->linkReply(this, std::move(reply));
                if (over) return;
                continue;
            case pjl::ReplyReader::Status::More:
                if (!reader.partial()) unwatch();
                else if (!watching) watch(timeoutMs(), BCE_E_BAD_REPLY);
                return receive();
            case pjl::ReplyReader::Status::TooLong:
            case pjl::ReplyReader::Status::NotPjl: return fail(BCE_E_BAD_REPLY);
            }
        }
    }

    unsigned timeoutMs() const {
        auto owner = port.lock();
        return owner ? owner->m_timeoutMs : 1;
    }

    void fail(long rc) {
        if (over) return;
        close();
        if (auto owner = port.lock()) owner->linkFailed(this, rc);
    }

    void close() {
        over = true;
        watchdog.cancel();
        resolver.cancel();
        std::error_code ignored;
        socket.close(ignored);
        if (holdsSlot) Gateway::instance().releaseSlot();
        holdsSlot = false;
    }
};

PjlPort::PjlPort(std::string host, uint16_t port, unsigned timeoutMs)
    : m_host(std::move(host)),
      m_port(port),
      m_timeoutMs(timeoutMs),
      m_deadline(Gateway::instance().context()),
      m_retry(Gateway::instance().context()) {}

void PjlPort::exchange(const pjl::Request& request, size_t replies, Done done) {
    if (m_closed) return;
    auto bytes = request.bytes();
    if (!bytes || replies == 0) return done({BCE_E_INVALID, {}});
    m_queue.push_back({std::move(*bytes), replies, std::move(done)});
    startNext();
}

void PjlPort::hold(Pushed pushed) {
    if (m_closed || m_pushed) return;
    m_pushed = std::move(pushed);
    if (!m_current) openLink(true);   // else once the exchange in flight is over
}

void PjlPort::startNext() {
    if (m_closed || m_current) return;
    if (m_queue.empty()) {
        if (m_pushed && !m_link && !m_retrying) openLink(true);
        return;
    }
    m_current = Current{std::move(m_queue.front()), {}, false};
    m_queue.pop_front();
    const uint64_t id = ++m_exchanges;
    m_deadline.expires_after(std::chrono::milliseconds(m_timeoutMs));
    m_deadline.async_wait([weak = weak_from_this(), id](std::error_code ec) {
        auto self = weak.lock();
        if (!ec && self && self->m_exchanges == id) self->finish(BCE_E_TIMEOUT);
    });
    if (!m_link) openLink(m_pushed != nullptr);
    else if (m_link->open) send();
    // else the link being opened sends it
}

void PjlPort::send() {
    m_current->sent = true;
    m_link->write(m_current->job.bytes);
}

void PjlPort::openLink(bool held) {
    m_retry.cancel();
    m_retrying = false;
    m_link = std::make_shared<Link>(weak_from_this(), held);
    m_link->start(m_host, m_port, m_timeoutMs);
}

void PjlPort::linkOpen(const Link* link) {
    if (link != m_link.get()) return;
    m_linkOpened = std::chrono::steady_clock::now();
    if (m_current && !m_current->sent) send();
}

void PjlPort::linkReply(const Link* link, std::string reply) {
    if (link != m_link.get()) return;
    if (link->held) {
        if (auto kind = pjl::unsolicitedKind(reply)) {
            if (*kind != "DEVICE") return;   // a kind never asked for
            auto status = pjl::parseDeviceStatus(reply);
            if (!status) return dropLink(BCE_E_BAD_REPLY);
            return push(std::move(status));
        }
        if (statusReply(reply)) {   // a printer that knows no INFO STATUS tells nothing
            if (auto status = pjl::parseDeviceStatus(reply)) push(std::move(status));
            return;
        }
    }
    if (!m_current || !m_current->sent) return;   // nobody's: left over from a dropped exchange
    m_current->replies.push_back(std::move(reply));
    if (m_current->replies.size() == m_current->job.replies) finish(BCE_OK);
}

void PjlPort::linkFailed(const Link* link, long rc) {
    if (link == m_link.get()) dropLink(rc);
}

// Lets the link go; a held one is opened again after the back-off.
void PjlPort::dropLink(long rc) {
    auto link = std::move(m_link);
    if (!link) return finish(rc);
    const bool steady = link->open && std::chrono::steady_clock::now() - m_linkOpened >= kSteady;
    link->close();
    if (link->held && !m_closed) {
        if (steady) m_backoff = kFirstRetry;
        m_retrying = true;
        m_retry.expires_after(m_backoff);
        m_backoff = std::min<std::chrono::steady_clock::duration>(m_backoff * 2, kLastRetry);
        m_retry.async_wait([weak = weak_from_this()](std::error_code ec) {
            auto self = weak.lock();
            if (ec || !self || self->m_closed || !self->m_retrying) return;
            self->m_retrying = false;
            if (!self->m_link) self->openLink(true);
        });
        push(std::nullopt);
    }
    finish(rc);
}

void PjlPort::finish(long rc) {
    if (!m_current) return;
    Current done = std::move(*m_current);
    m_current.reset();
    ++m_exchanges;
    m_deadline.cancel();
    if (m_link && !m_link->held) {   // a short connection's work is done
        m_link->close();
        m_link.reset();
    } else if (m_link && rc != BCE_OK && done.sent) {
        dropLink(rc);   // a held one whose replies are no longer in step
    }
    if (m_closed) return;
    PjlResult result{rc, rc == BCE_OK ? std::move(done.replies) : std::vector<std::string>{}};
    try {
        done.job.done(std::move(result));
    } catch (...) {   // a caller's failure ends its exchange, not the port
    }
    startNext();
}

void PjlPort::push(std::optional<pjl::DeviceStatus> status) {
    if (m_closed || !m_pushed) return;
    try {
        m_pushed(std::move(status));
    } catch (...) {   // the printer's failure to take it leaves the connection up
    }
}

void PjlPort::close() {
    m_closed = true;
    m_queue.clear();
    m_current.reset();
    m_deadline.cancel();
    m_retry.cancel();
    m_retrying = false;
    if (auto link = std::move(m_link)) link->close();
    m_pushed = nullptr;
}

}  // namespace kvnet
