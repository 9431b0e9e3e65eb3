// One PJL exchange at a time on a printer's print port, each on a short
// connection of its own.
#include "pjl_port.h"

#include <array>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "gateway.h"
#include "kvprtobj/zorbce.h"

namespace kvnet {
namespace {
constexpr size_t kReadChunk = 4096;
}

// The connection of one exchange: slot, lookup, connect, write, read; then
// closed, the slot given back and the port's next exchange started.
struct PjlPort::Exchange : std::enable_shared_from_this<Exchange> {
    using tcp = asio::ip::tcp;

    Exchange(std::shared_ptr<PjlPort> owner, Queued q)
        : port(std::move(owner)),
          job(std::move(q)),
          resolver(Gateway::instance().context()),
          socket(Gateway::instance().context()),
          deadline(Gateway::instance().context()) {}

    std::shared_ptr<PjlPort> port;
    Queued job;
    tcp::resolver resolver;
    tcp::socket socket;
    asio::steady_timer deadline;
    tcp::resolver::results_type endpoints;
    tcp::resolver::results_type::iterator nextEndpoint;
    pjl::ReplyReader reader;
    std::array<char, kReadChunk> buffer{};
    std::vector<std::string> replies;
    bool holdsSlot = false;
    bool over = false;   // finished or aborted: later handlers do nothing

    // A handler that does nothing once the exchange is over.
    template <class Handler>
    auto guarded(Handler handler) {
        return [self = shared_from_this(), handler](auto&&... args) {
            if (!self->over) (self.get()->*handler)(std::forward<decltype(args)>(args)...);
        };
    }

    void start() {
        deadline.expires_after(std::chrono::milliseconds(port->m_timeoutMs));
        deadline.async_wait([self = shared_from_this()](std::error_code ec) {
            if (!ec) self->finish(BCE_E_TIMEOUT);
        });
        Gateway::instance().acquireSlot([self = shared_from_this()] {
            self->holdsSlot = true;
            if (self->over) return self->release();
            self->resolver.async_resolve(self->port->m_host, std::to_string(self->port->m_port),
                                         self->guarded(&Exchange::resolved));
        });
    }

    void resolved(std::error_code ec, tcp::resolver::results_type found) {
        if (ec) return finish(unreachableResult(ec));
        endpoints = std::move(found);
        nextEndpoint = endpoints.begin();
        dial({});
    }

    // The addresses in turn; a socket that cannot be opened ends the dial.
    void dial(std::error_code last) {
        if (nextEndpoint == endpoints.end()) return finish(unreachableResult(last));
        const tcp::endpoint endpoint = (nextEndpoint++)->endpoint();
        std::error_code ec;
        socket.close(ec);
        socket.open(endpoint.protocol(), ec);
        if (ec) return finish(unreachableResult(ec));
        socket.async_connect(endpoint, guarded(&Exchange::connected));
    }

    void connected(std::error_code ec) {
        if (ec) return dial(ec);
        asio::async_write(socket, asio::buffer(job.bytes), guarded(&Exchange::sent));
    }

    void sent(std::error_code ec, size_t) {
        if (ec) return finish(BCE_E_CONNECTION_RESET);
        receive();
    }

    void receive() { socket.async_read_some(asio::buffer(buffer), guarded(&Exchange::received)); }

    void received(std::error_code ec, size_t n) {
        if (ec) return finish(BCE_E_CONNECTION_RESET);
        reader.feed(std::string_view(buffer.data(), n));
        std::string reply;
        for (;;) {
            switch (reader.next(&reply)) {
            case pjl::ReplyReader::Status::Reply:
                replies.push_back(std::move(reply));
                if (replies.size() == job.replies) return finish(BCE_OK);
                continue;
            case pjl::ReplyReader::Status::More: return receive();
            case pjl::ReplyReader::Status::TooLong:
            case pjl::ReplyReader::Status::NotPjl: return finish(BCE_E_BAD_REPLY);
            }
        }
    }

    void release() {
        std::error_code ignored;
        socket.close(ignored);
        if (holdsSlot) Gateway::instance().releaseSlot();
        holdsSlot = false;
    }

    // Ends the exchange; without `done` when the port was closed.
    void finish(long rc) {
        if (over) return;
        over = true;
        deadline.cancel();
        resolver.cancel();
        release();
        if (port->m_closed) return;
        PjlResult result{rc, rc == BCE_OK ? std::move(replies) : std::vector<std::string>{}};
        auto owner = port;
        owner->m_current.reset();
        try {
            job.done(std::move(result));
        } catch (...) {   // a caller's failure ends its exchange, not the port
        }
        owner->startNext();
    }
};

void PjlPort::exchange(const pjl::Request& request, size_t replies, Done done) {
    if (m_closed) return;
    auto bytes = request.bytes();
    if (!bytes || replies == 0) return done({BCE_E_INVALID, {}});
    m_queue.push_back({std::move(*bytes), replies, std::move(done)});
    if (!m_current) startNext();
}

void PjlPort::startNext() {
    if (m_closed || m_current || m_queue.empty()) return;
    m_current = std::make_shared<Exchange>(shared_from_this(), std::move(m_queue.front()));
    m_queue.pop_front();
    m_current->start();
}

void PjlPort::close() {
    m_closed = true;
    m_queue.clear();
    if (auto current = std::move(m_current)) current->finish(BCE_E_INVALID);
}

}  // namespace kvnet
