// The connection to one printer's IPP port: exchanges queued and run one at
// a time, the socket kept alive between them and closed when idle.
#include "http.h"

#include <array>
#include <deque>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "gateway.h"
#include "kvprtobj/zorbce.h"

namespace kvnet::ipp::http {
namespace {

constexpr size_t kReadChunk = 16 * 1024;

std::string base64(std::string_view in) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) n |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) n |= static_cast<uint8_t>(in[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < in.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// The path as a request target: bytes a request line cannot carry are
// percent-encoded.
std::string requestTarget(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string target;
    for (char c : path) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) target += {'%', kHex[u >> 4], kHex[u & 15]};
        else target += c;
    }
    return target.empty() || target.front() != '/' ? "/" + target : target;
}

class ConnectionImpl : public Connection, public std::enable_shared_from_this<ConnectionImpl> {
public:
    explicit ConnectionImpl(Settings settings)
        : m_settings(std::move(settings)),
          m_resolver(Gateway::instance().context()),
          m_socket(Gateway::instance().context()),
          m_deadline(Gateway::instance().context()),
          m_idle(Gateway::instance().context()) {}

    void post(std::string body, Done done) override {
        if (m_closed) return;
        m_queue.push_back({std::move(body), std::move(done)});
        if (!m_busy) start();
    }

    void close() override {
        m_closed = true;
        m_queue.clear();
        m_busy = false;
        m_deadline.cancel();
        closeSocket();
    }

private:
    struct Pending {
        std::string body;
        Done done;
    };

    // A handler of the current socket that does nothing once it is closed.
    template <class Handler>
    auto guarded(Handler handler) {
        return [self = shared_from_this(), generation = m_generation, handler](auto&&... args) {
            if (self->m_closed || generation != self->m_generation) return;
            (self.get()->*handler)(std::forward<decltype(args)>(args)...);
        };
    }

    void start() {
        m_busy = true;
        m_retried = false;
        m_idle.cancel();
        ++m_exchange;
        m_deadline.expires_after(std::chrono::milliseconds(m_settings.timeoutMs));
        m_deadline.async_wait([self = shared_from_this(), exchange = m_exchange](std::error_code ec) {
            if (!ec && !self->m_closed && self->m_busy && exchange == self->m_exchange)
                self->fail(BCE_E_TIMEOUT, "no response within " + std::to_string(self->m_settings.timeoutMs) + " ms");
        });
        if (m_connected) return send();
        open();
    }

    // Takes a slot, then resolves and connects.
    void open() {
        if (m_holdsSlot) return resolve();
        if (m_waitingForSlot) return;
        m_waitingForSlot = true;
        Gateway::instance().acquireSlot([self = shared_from_this()] {
            self->m_waitingForSlot = false;
            self->m_holdsSlot = true;
            if (self->m_closed || !self->m_busy) return self->closeSocket();   // gives the slot back
            self->resolve();
        });
    }

    void resolve() {
        m_resolver.async_resolve(m_settings.host, std::to_string(m_settings.port), guarded(&ConnectionImpl::resolved));
    }

    void resolved(std::error_code ec, asio::ip::tcp::resolver::results_type endpoints) {
        if (ec) return fail(unreachableResult(ec), "cannot resolve " + m_settings.host + ": " + ec.message());
        m_endpoints = std::move(endpoints);
        m_nextEndpoint = m_endpoints.begin();
        dial({});
    }

    // Connects to the addresses in turn, `last` telling why the one before
    // failed. A socket that cannot be opened ends the dial at once: the
    // process has none for any address. (asio's range connect reads a
    // failed open as a cancel, losing why.)
    void dial(std::error_code last) {
        const std::string where = m_settings.host + " port " + std::to_string(m_settings.port);
        if (m_nextEndpoint == m_endpoints.end())
            return fail(unreachableResult(last), "cannot connect to " + where + ": " + last.message());
        const asio::ip::tcp::endpoint endpoint = (m_nextEndpoint++)->endpoint();
        std::error_code ec;
        m_socket.close(ec);
        m_socket.open(endpoint.protocol(), ec);
        if (ec) return fail(unreachableResult(ec), "cannot open a socket to connect to " + where + ": " + ec.message());
        m_socket.async_connect(endpoint, guarded(&ConnectionImpl::connected));
    }

    void connected(std::error_code ec) {
        if (ec) return dial(ec);
        std::error_code ignored;
        m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        m_connected = true;
        m_reused = false;
        send();
    }

    void send() {
        m_parser = ResponseParser();
        const std::string& body = m_queue.front().body;
        m_request = requestHead(m_settings, body.size()) + body;
        asio::async_write(m_socket, asio::buffer(m_request), guarded(&ConnectionImpl::sent));
    }

    void sent(std::error_code ec, size_t) {
        if (ec) return lost(ec);
        receive();
    }

    void receive() { m_socket.async_read_some(asio::buffer(m_buffer), guarded(&ConnectionImpl::received)); }

    void received(std::error_code ec, size_t n) {
        if (ec == asio::error::eof && m_parser.closed() == ResponseParser::State::Done) return complete(false);
        if (ec) return lost(ec);
        size_t used = 0;
        switch (m_parser.feed(std::string_view(m_buffer.data(), n), &used)) {
        case ResponseParser::State::Bad: return fail(BCE_E_BAD_REPLY, m_parser.error());
        case ResponseParser::State::Done: return complete(used == n);   // bytes beyond the response: not reused
        case ResponseParser::State::More: return receive();
        }
    }

    // The connection broke. A kept-alive connection the printer closed while
    // idle is opened again, once, if no byte of the response came yet.
    void lost(std::error_code ec) {
        if (m_reused && !m_retried && !m_parser.started()) {
            m_retried = true;
            closeSocket();
            return open();
        }
        fail(BCE_E_CONNECTION_RESET, "the printer closed the connection before the whole response: " + ec.message());
    }

    void complete(bool reusable) {
        Outcome outcome = outcomeOf(std::move(m_parser.response()));
        if (!reusable || !outcome.response.keepAlive) closeSocket();
        else m_reused = true;
        finish(std::move(outcome), 1);
    }

    // Ends the current exchange with an error. Without a connection, the
    // queued exchanges end with it too: the printer could not be reached.
    void fail(long rc, std::string error) {
        const bool unreachable = !m_connected;
        closeSocket();
        finish({rc, {}, std::move(error)}, unreachable ? m_queue.size() : 1);
    }

    // Calls back the first `count` queued exchanges with `outcome`, then
    // starts the next or lets the connection idle.
    void finish(Outcome outcome, size_t count) {
        m_deadline.cancel();
        m_busy = false;
        ++m_exchange;
        std::vector<Done> callbacks;
        for (size_t i = 0; i < count && !m_queue.empty(); ++i) {
            callbacks.push_back(std::move(m_queue.front().done));
            m_queue.pop_front();
        }
        for (size_t i = 0; i < callbacks.size() && !m_closed; ++i)
            callbacks[i](i + 1 == callbacks.size() ? std::move(outcome) : outcome);
        if (m_closed || m_busy) return;   // a callback closed the connection or posted again
        if (!m_queue.empty()) return start();
        if (m_connected) idle();
    }

    void idle() {
        m_idle.expires_after(kIdleClose);
        m_idle.async_wait([self = shared_from_this(), exchange = m_exchange](std::error_code ec) {
            if (!ec && !self->m_busy && exchange == self->m_exchange) self->closeSocket();
        });
    }

    void closeSocket() {
        ++m_generation;
        m_resolver.cancel();
        m_idle.cancel();
        std::error_code ignored;
        if (m_socket.is_open()) m_socket.close(ignored);
        m_connected = m_reused = false;
        if (m_holdsSlot) {
            m_holdsSlot = false;
            Gateway::instance().releaseSlot();
        }
    }

    Settings m_settings;
    asio::ip::tcp::resolver m_resolver;
    asio::ip::tcp::resolver::results_type m_endpoints;   // of the last lookup, dialled in turn
    asio::ip::tcp::resolver::results_type::const_iterator m_nextEndpoint;
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_deadline, m_idle;
    std::deque<Pending> m_queue;   // the front is the exchange running while m_busy
    ResponseParser m_parser;
    std::string m_request;
    std::array<char, kReadChunk> m_buffer{};
    unsigned m_generation = 0;   // of the socket: handlers of an earlier one are ignored
    unsigned m_exchange = 0;     // of the exchange: the deadline of an earlier one is ignored
    bool m_busy = false, m_closed = false, m_connected = false, m_reused = false, m_retried = false;
    bool m_holdsSlot = false, m_waitingForSlot = false;
};

}  // namespace

std::string requestHead(const Settings& settings, size_t bodyLength) {
    const bool ipv6 = settings.host.find(':') != std::string::npos;
    std::string head = "POST " + requestTarget(settings.path) + " HTTP/1.1\r\n";
    head += "Host: " + (ipv6 ? "[" + settings.host + "]" : settings.host) + ":" + std::to_string(settings.port) + "\r\n";
    head += "Content-Type: application/ipp\r\n";
    head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    if (!settings.user.empty()) head += "Authorization: Basic " + base64(settings.user + ":" + settings.password) + "\r\n";
    head += "\r\n";
    return head;
}

std::shared_ptr<Connection> Connection::create(Settings settings) {
    return std::make_shared<ConnectionImpl>(std::move(settings));
}

}  // namespace kvnet::ipp::http
