// A bounded HTTP/1.1 server (Boost.Beast on Boost.Asio, plain or TLS). No
// thread waits on a socket: a few threads serve every connection, so idle
// clients and event streams never hold the threads a scrape needs. Every
// resource a client can take is bounded (HttpLimits); beyond a bound the
// client gets its refusal at once and the connection is closed.
//
// The server knows no routes: one handler turns each request into a reply,
// or into a stream the server pulls from until it ends (Server-Sent Events).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvprtd {

struct HttpLimits {
    // Open connections, of all clients; one more is answered 503 and closed.
    static constexpr size_t kMaxConnections = 4096;
    // A request's header: at most this many fields and bytes, else 431.
    static constexpr size_t kMaxHeaderFields = 100;
    static constexpr size_t kMaxHeaderBytes = 16 * 1024;
    // A request's body (only GET is served; a body is read and dropped), else 413.
    static constexpr size_t kMaxBodyBytes = 64 * 1024;
    // A connection that has not sent a whole request within this time, or
    // waits longer than this for its next one, is closed.
    static constexpr std::chrono::seconds kRequestTime{10};
    static constexpr std::chrono::seconds kIdleTime{5};
    // A reply (or a part of a stream) not taken by the client within this time ends the connection.
    static constexpr std::chrono::seconds kWriteTime{10};
    // How often a stream is asked for more.
    static constexpr std::chrono::milliseconds kStreamTick{250};
};

struct HttpRequest {
    std::string method;   // as sent
    std::string path;     // percent-decoded, without the query
    std::vector<std::pair<std::string, std::string>> query;    // decoded
    std::vector<std::pair<std::string, std::string>> fields;   // as sent
    std::string peer;     // the client's address

    // `path` and `query` from a request line's target (http_request.cpp).
    void setTarget(std::string_view target);
    // A header field's value (names compared without case), empty when absent.
    std::string header(std::string_view name) const;
    bool hasParam(std::string_view name) const;
    std::string param(std::string_view name) const;
};

struct HttpReply {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false;   // the connection ends after this reply
};

// `text` in lower case (ASCII), for names HTTP compares without case.
std::string lowerCase(std::string_view text);
// kvprtd's JSON error reply (api.h's errorJson) with its status.
HttpReply errorReply(int status, std::string_view message);

// What a handler answers: a reply, or, when `stream` is set, the head of a
// reply whose body the server pulls from `stream` every tick: it appends what
// it has (perhaps nothing) and returns false when the stream is over. `ended`
// runs once the connection of a stream is gone, however it ends.
struct HttpAnswer {
    HttpReply reply;
    std::function<bool(std::string* more)> stream;
    std::function<void()> ended;
};

using HttpHandler = std::function<HttpAnswer(const HttpRequest&)>;

// The certificate chain and private key of a TLS server, PEM files.
struct TlsFiles {
    std::string certFile, keyFile;
};

class BoundedHttpServer {
public:
    struct Counts {
        size_t open = 0;             // connections now
        uint64_t refused = 0;        // turned away at the connection cap
        uint64_t tooLarge = 0;       // requests refused for their size (431, 413)
    };

    // `tls`: serve HTTPS only; the files are read here (false from ok() with a message).
    BoundedHttpServer(HttpHandler handler, std::optional<TlsFiles> tls);
    ~BoundedHttpServer();
    BoundedHttpServer(const BoundedHttpServer&) = delete;
    BoundedHttpServer& operator=(const BoundedHttpServer&) = delete;

    // Whether the TLS files could be read; the reason when not.
    bool ok(std::string* error) const;
    // Binds to host:port (port 0 picks one); false with a message.
    bool bind(const std::string& host, int port, std::string* error);
    int port() const;
    void start(unsigned threads);
    // Closes every connection; streams' `ended` run before this returns.
    void stop();
    Counts counts() const;

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

}  // namespace kvprtd
