// The HTTP/1.1 that carries IPP: POST of an application/ipp body to the
// printer's resource over plain TCP, on the backend's loop (gateway.h).
//
// A Connection runs one exchange at a time and queues the others (no
// pipelining). It connects on the first exchange (the host by name, IPv4 or
// IPv6), holds a gateway slot while its socket is open, keeps the connection
// alive while exchanges follow one another and closes it after kIdleClose
// without one. A kept-alive connection the printer has closed meanwhile is
// opened again once, when it fails before any byte of the response came.
//
// Responses are read with Content-Length, chunked, or up to the close (which
// cannot tell a whole body from one cut short: Response::untilClose), and
// bounded: kMaxHeaderBytes of status line and header fields, kMaxHeaderFields
// fields, kMaxBody bytes of body, one time-out for the whole exchange
// (waiting for a slot and connecting included). When the printer cannot be
// reached, the queued exchanges end with the same result at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kvnet::ipp::http {

constexpr size_t kMaxHeaderBytes = 16 * 1024;   // status lines, fields and trailers of one response
constexpr size_t kMaxHeaderFields = 64;         // fields and trailers of one response
constexpr size_t kMaxChunkLine = 256;           // a chunk-size line with its extensions
constexpr size_t kMaxBody = 4u << 20;
constexpr std::chrono::milliseconds kIdleClose{2000};

struct Response {
    int status = 0;
    std::string reason;   // the reason phrase, printable ASCII, at most 64 bytes
    std::string body;
    bool keepAlive = false;   // the connection may carry another exchange
    bool untilClose = false;  // the body had neither length nor chunks: the close ended it, whole or not
};

// Reads one response from bytes as they arrive; interim 1xx responses are
// skipped.
class ResponseParser {
public:
    enum class State { More, Done, Bad };

    // Takes bytes until the response is whole; `*used` tells how many.
    State feed(std::string_view bytes, size_t* used);
    // The peer closed the connection: Done when that ends the body (a
    // response without length), More when the response is not whole.
    State closed();
    // Whether any byte came.
    bool started() const { return m_started; }
    Response& response() { return m_response; }
    const std::string& error() const { return m_error; }

private:
    enum class Step { StatusLine, Fields, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, UntilClose, Done, Bad };
    State state() const;
    State fail(std::string error);
    bool takeLine(std::string_view bytes, size_t* at, size_t limit, const char* tooLong, std::string* line);
    void onLine(const std::string& line);
    void statusLine(const std::string& line);
    void field(const std::string& line);
    void endOfFields();
    void chunkSize(const std::string& line);
    void appendBody(std::string_view bytes);

    Step m_step = Step::StatusLine;
    Response m_response;
    std::string m_error;
    std::string m_line;
    size_t m_headerBytes = 0, m_fields = 0;
    size_t m_remaining = 0;   // of the body or of the chunk
    bool m_started = false;
    bool m_lengthGiven = false, m_chunked = false, m_http10 = false, m_close = false, m_keepAliveAsked = false;
};

// What an exchange ended with: rc 0 and a 200 response; or BCE_E_CHANNEL_DOWN,
// BCE_E_NO_RESOURCES (no descriptor or buffer for the socket),
// BCE_E_CONNECTION_RESET, BCE_E_TIMEOUT, BCE_E_BAD_REPLY, or BCE_E_INVALID
// for another HTTP status ("HTTP 401 Unauthorized" in `error`).
struct Outcome {
    long rc = 0;
    Response response;
    std::string error;
};
using Done = std::function<void(Outcome)>;

// The outcome of a whole response: rc 0 for status 200, BCE_E_INVALID otherwise.
Outcome outcomeOf(Response response);

struct Settings {
    std::string host;   // a name or an address, without brackets
    uint16_t port = 631;
    std::string path = "/ipp/print";
    unsigned timeoutMs = 5000;
    std::string user, password;   // basic authentication when `user` is not empty
};

class Connection {
public:
    static std::shared_ptr<Connection> create(Settings settings);
    virtual ~Connection() = default;
    // POSTs `body` (application/ipp); `done` is called once, unless the
    // connection is closed first. Loop thread only.
    virtual void post(std::string body, Done done) = 0;
    // Drops every exchange without calling back and closes the socket.
    virtual void close() = 0;
};

// The request head of a POST to `settings` (exposed for the tests).
std::string requestHead(const Settings& settings, size_t bodyLength);

}  // namespace kvnet::ipp::http
