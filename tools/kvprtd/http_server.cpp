#include "http_server.h"

#include <pthread.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <thread>

#include "api.h"
#include "log.h"

namespace kvprtd {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using ErrorCode = beast::error_code;

constexpr auto kTlsShutdownTime = std::chrono::seconds(2);
// After a refusal, what the client still sends is read (and dropped) for a
// moment, so that closing does not reset the connection under the reply.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr size_t kLingerBytes = 64 * 1024;
// Accepting again after the process ran out of descriptors.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);

std::string_view view(beast::string_view text) { return {text.data(), text.size()}; }

// A request's head, its fields bounded in number; a body is read and dropped.
class RequestParser : public http::basic_parser<true> {
public:
    std::string method, target;
    int version = 11;
    std::vector<std::pair<std::string, std::string>> fields;

private:
    void on_request_impl(http::verb, beast::string_view m, beast::string_view t, int v, ErrorCode&) override {
        method = view(m);
        target = view(t);
        version = v;
    }
    void on_response_impl(int, beast::string_view, int, ErrorCode&) override {}
    void on_field_impl(http::field, beast::string_view name, beast::string_view value, ErrorCode& ec) override {
        if (fields.size() == HttpLimits::kMaxHeaderFields) {
            ec = http::error::header_limit;
            return;
        }
        fields.emplace_back(view(name), view(value));
    }
    void on_header_impl(ErrorCode&) override {}
    void on_body_init_impl(const boost::optional<std::uint64_t>&, ErrorCode&) override {}
    size_t on_body_impl(beast::string_view body, ErrorCode&) override { return body.size(); }
    void on_chunk_header_impl(std::uint64_t, beast::string_view, ErrorCode&) override {}
    size_t on_chunk_body_impl(std::uint64_t, beast::string_view body, ErrorCode&) override { return body.size(); }
    void on_finish_impl(ErrorCode&) override {}
};

}  // namespace

HttpReply errorReply(int status, std::string_view message) {
    return {status, "application/json", errorJson(status, message), {}};
}

struct BoundedHttpServer::Core {
    HttpHandler handler;
    std::atomic<size_t> open{0};
    std::atomic<uint64_t> refused{0}, tooLarge{0};
    std::string tlsError;
    std::optional<ssl::context> tls;
    // Destroyed before the members above: the sessions left in it count themselves out.
    net::io_context io;
    tcp::acceptor acceptor{io};
    net::steady_timer backoff{io};
    std::vector<std::thread> threads;

    void accept();
    void admit(tcp::socket socket);
};

namespace {

template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
public:
    Session(BoundedHttpServer::Core& core, Stream stream, std::string peer)
        : m_core(core), m_stream(std::move(stream)), m_peer(std::move(peer)), m_tick(m_stream.get_executor()) {}
    ~Session() {
        if (m_ended) m_ended();
        --m_core.open;
    }

    void run() {
        if constexpr (kTls) {
            socket().expires_after(HttpLimits::kRequestTime);
            m_stream.async_handshake(ssl::stream_base::server, [self = this->shared_from_this()](ErrorCode ec) {
                if (!ec) self->readRequest();
            });
        } else {
            readRequest();
        }
    }

private:
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

    beast::tcp_stream& socket() { return beast::get_lowest_layer(m_stream); }

    void readRequest() {
        m_parser.emplace();
        m_parser->header_limit(HttpLimits::kMaxHeaderBytes);
        m_parser->body_limit(HttpLimits::kMaxBodyBytes);
        socket().expires_after(m_served == 0 ? HttpLimits::kRequestTime : HttpLimits::kIdleTime);
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = this->shared_from_this()](ErrorCode ec, size_t) { self->onRequest(ec); });
    }

    void onRequest(ErrorCode ec) {
        if (ec == http::error::header_limit || ec == http::error::body_limit) {
            ++m_core.tooLarge;
            return ec == http::error::body_limit
                       ? send(errorReply(413, "request body too large"), false, false)
                       : send(errorReply(431, "request header too large: at most " +
                                                  std::to_string(HttpLimits::kMaxHeaderFields) + " fields and " +
                                                  std::to_string(HttpLimits::kMaxHeaderBytes / 1024) + " KiB"),
                              false, false);
        }
        if (ec == http::error::end_of_stream || ec == http::error::partial_message) return close(false);
        if (ec && ec.category() == http::make_error_code(http::error::bad_method).category())
            return send(errorReply(400, "malformed request"), false, false);
        if (ec) return close(false);
        ++m_served;

        HttpRequest request;
        request.method = std::move(m_parser->method);
        request.setTarget(m_parser->target);
        request.fields = std::move(m_parser->fields);
        request.peer = m_peer;
        m_version = m_parser->version;
        const bool keepAlive = m_parser->keep_alive();

        HttpAnswer answer;
        try {
            answer = m_core.handler(request);
        } catch (const std::exception& e) {
            logLine(std::string("HTTP request failed: ") + e.what());
            answer = {errorReply(500, e.what()), {}, {}};
        }
        if (answer.stream) return startStream(std::move(answer));
        const bool keep = keepAlive && !answer.reply.close;
        send(std::move(answer.reply), keep, request.method == "HEAD");
    }

    void send(HttpReply reply, bool keepAlive, bool headOnly) {
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(reply.status), m_version);
        for (auto& [name, value] : reply.headers) response->set(name, value);
        if (!reply.contentType.empty()) response->set(http::field::content_type, reply.contentType);
        response->body() = std::move(reply.body);
        response->prepare_payload();
        if (headOnly) response->body().clear();   // the length stays that of the body left out
        response->keep_alive(keepAlive);
        socket().expires_after(HttpLimits::kWriteTime);
        http::async_write(m_stream, *response,
                          [self = this->shared_from_this(), response, keepAlive](ErrorCode ec, size_t) {
                              if (ec) return self->close(false);
                              if (!keepAlive) return self->close(true);
                              self->readRequest();
                          });
    }

    void startStream(HttpAnswer answer) {
        m_source = std::move(answer.stream);
        m_ended = std::move(answer.ended);
        m_streamHead = {static_cast<http::status>(answer.reply.status), m_version};
        if (!answer.reply.contentType.empty()) m_streamHead.set(http::field::content_type, answer.reply.contentType);
        for (auto& [name, value] : answer.reply.headers) m_streamHead.set(name, value);
        m_streamHead.chunked(true);
        m_streamHead.keep_alive(false);
        m_head.emplace(m_streamHead);
        socket().expires_after(HttpLimits::kWriteTime);
        http::async_write_header(m_stream, *m_head, [self = this->shared_from_this()](ErrorCode ec, size_t) {
            if (ec) return self->close(false);
            self->pull();
        });
    }

    // Asks the stream for more, writes what it gave, and waits a tick.
    void pull() {
        m_chunk.clear();
        bool more = false;
        try {
            more = m_source(&m_chunk);
        } catch (const std::exception& e) {
            logLine(std::string("HTTP stream failed: ") + e.what());
        }
        socket().expires_after(HttpLimits::kWriteTime);
        if (!more)
            return net::async_write(m_stream, http::make_chunk_last(),
                                    [self = this->shared_from_this()](ErrorCode, size_t) { self->close(true); });
        if (m_chunk.empty()) return wait();
        net::async_write(m_stream, http::make_chunk(net::buffer(m_chunk)),
                         [self = this->shared_from_this()](ErrorCode ec, size_t) {
                             if (ec) return self->close(false);
                             self->wait();
                         });
    }

    void wait() {
        m_tick.expires_after(HttpLimits::kStreamTick);
        m_tick.async_wait([self = this->shared_from_this()](ErrorCode ec) {
            if (ec) return self->close(false);
            self->pull();
        });
    }

    // Ends the connection; `orderly` after a whole reply: TLS says goodbye, and
    // plain TCP reads what the client still sends for a moment before closing.
    void close(bool orderly) {
        ErrorCode ignored;
        if constexpr (kTls) {
            if (orderly) {
                socket().expires_after(kTlsShutdownTime);
                return m_stream.async_shutdown([self = this->shared_from_this()](ErrorCode) {
                    ErrorCode dropped;
                    self->socket().socket().close(dropped);
                });
            }
        } else {
            if (orderly) {
                socket().socket().shutdown(tcp::socket::shutdown_send, ignored);
                socket().expires_after(kLingerTime);
                return linger();
            }
        }
        socket().socket().close(ignored);
    }

    void linger() {
        m_buffer.clear();
        if (m_lingered > kLingerBytes) return void(socket().socket().close());
        socket().async_read_some(m_buffer.prepare(4096), [self = this->shared_from_this()](ErrorCode ec, size_t n) {
            self->m_lingered += n;
            if (ec) {
                ErrorCode ignored;
                return void(self->socket().socket().close(ignored));
            }
            self->linger();
        });
    }

    BoundedHttpServer::Core& m_core;
    Stream m_stream;
    std::string m_peer;
    beast::flat_buffer m_buffer;
    std::optional<RequestParser> m_parser;
    unsigned m_version = 11;
    size_t m_served = 0, m_lingered = 0;
    // A stream: its head, where its parts come from, and its tick.
    http::response<http::empty_body> m_streamHead;
    std::optional<http::response_serializer<http::empty_body>> m_head;
    std::function<bool(std::string*)> m_source;
    std::function<void()> m_ended;
    std::string m_chunk;
    net::steady_timer m_tick;
};

}  // namespace

void BoundedHttpServer::Core::accept() {
    acceptor.async_accept(net::make_strand(io), [this](ErrorCode ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            admit(std::move(socket));
            return accept();
        }
        static RepeatedLog refusals(std::chrono::seconds(10));
        refusals.line("HTTP: cannot accept a connection: " + ec.message());
        backoff.expires_after(kAcceptBackoff);
        backoff.async_wait([this](ErrorCode waited) {
            if (!waited) accept();
        });
    });
}

void BoundedHttpServer::Core::admit(tcp::socket socket) {
    ErrorCode ec;
    if (open.load() >= HttpLimits::kMaxConnections) {
        ++refused;
        static const std::string kRefusal = [] {
            std::string body = errorJson(503, "too many connections");
            return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n"
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        }();
        socket.non_blocking(true, ec);
        socket.write_some(net::buffer(kRefusal), ec);
        socket.shutdown(tcp::socket::shutdown_both, ec);
        socket.close(ec);
        return;
    }
    auto endpoint = socket.remote_endpoint(ec);
    std::string peer = ec ? "" : endpoint.address().to_string();
    ++open;
    if (tls) {
        std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(
            *this, beast::ssl_stream<beast::tcp_stream>(std::move(socket), *tls), std::move(peer))->run();
    } else {
        std::make_shared<Session<beast::tcp_stream>>(*this, beast::tcp_stream(std::move(socket)), std::move(peer))
            ->run();
    }
}

BoundedHttpServer::BoundedHttpServer(HttpHandler handler, std::optional<TlsFiles> tls)
    : m_core(std::make_shared<Core>()) {
    m_core->handler = std::move(handler);
    if (!tls) return;
    try {
        ssl::context context(ssl::context::tls_server);
        context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                            ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
        context.use_certificate_chain_file(tls->certFile);
        context.use_private_key_file(tls->keyFile, ssl::context::pem);
        m_core->tls.emplace(std::move(context));
    } catch (const std::exception& e) {
        m_core->tlsError = "TLS: cannot use " + tls->certFile + " and " + tls->keyFile + ": " + e.what();
    }
}

BoundedHttpServer::~BoundedHttpServer() { stop(); }

bool BoundedHttpServer::ok(std::string* error) const {
    if (m_core->tlsError.empty()) return true;
    *error = m_core->tlsError;
    return false;
}

bool BoundedHttpServer::bind(const std::string& host, int port, std::string* error) {
    ErrorCode ec;
    tcp::resolver resolver(m_core->io);
    auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    tcp::acceptor& acceptor = m_core->acceptor;
    if (!ec && found.empty()) ec = net::error::host_not_found;
    if (!ec) acceptor.open(found.begin()->endpoint().protocol(), ec);
    // SO_REUSEADDR to restart at once; never SO_REUSEPORT: a second kvprtd on
    // the port would take half of the scrapes.
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(found.begin()->endpoint(), ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        ErrorCode ignored;
        acceptor.close(ignored);
        *error = "cannot listen on " + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                 std::to_string(port) + ": " + ec.message();
        return false;
    }
    return true;
}

int BoundedHttpServer::port() const {
    if (!m_core) return 0;
    ErrorCode ec;
    auto endpoint = m_core->acceptor.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void BoundedHttpServer::start(unsigned threads) {
    m_core->accept();
    for (unsigned i = 0; i < threads; ++i)
        m_core->threads.emplace_back([core = m_core.get()] {
            pthread_setname_np(pthread_self(), "kvprtd-http");
            for (;;) {
                try {
                    core->io.run();
                    return;
                } catch (const std::exception& e) {
                    logLine(std::string("HTTP: ") + e.what());
                }
            }
        });
}

void BoundedHttpServer::stop() {
    if (!m_core) return;
    m_core->io.stop();
    for (std::thread& t : m_core->threads) t.join();
    m_core.reset();   // the io_context goes, and with it every connection left
}

BoundedHttpServer::Counts BoundedHttpServer::counts() const {
    if (!m_core) return {};
    return {m_core->open.load(), m_core->refused.load(), m_core->tooLarge.load()};
}

}  // namespace kvprtd
