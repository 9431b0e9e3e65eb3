#include "http.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>

#include "api.h"
#include "log.h"
#include "metrics.h"
#include "times.h"
#include "web.h"

namespace kvprtd {
namespace {

constexpr const char* kJson = "application/json";
constexpr auto kStreamWait = std::chrono::seconds(1);
constexpr auto kKeepAlive = std::chrono::seconds(15);   // a comment on a quiet event stream

// The dashboard runs nothing but its own files: no inline script or style, no
// other site, so that a printer's text that slipped into the page as markup
// could do nothing.
constexpr const char* kDashboardPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// The methods the server's parser reads; it answers any other with 400.
const std::set<std::string, std::less<>> kHttpMethods = {"GET",  "HEAD",  "POST",  "PUT", "DELETE",
                                                         "CONNECT", "OPTIONS", "TRACE", "PATCH"};

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void sendError(httplib::Response& res, int status, std::string_view message) {
    res.status = status;
    res.set_content(errorJson(status, message), kJson);
}

void sendAsset(httplib::Response& res, const WebAsset* asset) {
    if (asset == nullptr) return sendError(res, 404, "no such resource");
    res.set_header("Content-Security-Policy", kDashboardPolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-cache");
    res.set_content(std::string(asset->body), std::string(contentType(asset->name)));
}

// A time parameter of the history, or `fallback` when absent; false when malformed.
bool timeParameter(const httplib::Request& req, const char* name, int64_t fallback, int64_t* value) {
    if (!req.has_param(name)) {
        *value = fallback;
        return true;
    }
    auto parsed = parseTime(req.get_param_value(name));
    if (!parsed) return false;
    *value = *parsed;
    return true;
}

}  // namespace

HttpServer::HttpServer(Service& service, std::string version, std::vector<std::string> allowedHosts)
    : m_service(service), m_version(std::move(version)), m_allowedHosts(std::move(allowedHosts)) {
    for (std::string& name : m_allowedHosts) name = lowerCase(name);
    m_server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    m_server.set_keep_alive_timeout(2);
    m_server.set_read_timeout(5);
    m_server.set_write_timeout(5);
    m_server.set_payload_max_length(64 * 1024);
    // SO_REUSEADDR to restart at once, but not cpp-httplib's SO_REUSEPORT: a
    // second kvprtd on the port would take half of the scrapes.
    m_server.set_socket_options([](socket_t fd) {
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    routes();
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::routes() {
    auto& api = m_server;
    api.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(renderMetrics(m_service), "text/plain; version=0.0.4; charset=utf-8");
    });
    api.Get("/api/v1/status", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(statusJson(m_service, m_version), kJson);
    });
    api.Get("/api/v1/printers", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(printersJson(m_service), kJson);
    });
    api.Get(R"(/api/v1/printers/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = printerJson(m_service, req.matches[1].str());
        if (!body) return sendError(res, 404, "no printer \"" + req.matches[1].str() + "\" in the fleet");
        res.set_content(*body, kJson);
    });
    api.Get(R"(/api/v1/printers/([^/]+)/history)", [this](const httplib::Request& req, httplib::Response& res) {
        int64_t until = 0, since = 0;
        if (!timeParameter(req, "until", nowMs(), &until))
            return sendError(res, 400, "until: expected seconds since the epoch or an RFC 3339 time");
        if (!timeParameter(req, "since", until - kDefaultHistoryMs, &since))
            return sendError(res, 400, "since: expected seconds since the epoch or an RFC 3339 time");
        if (since > until) return sendError(res, 400, "since: later than until");
        auto body = historyJson(m_service, req.matches[1].str(), since, until);
        if (!body) return sendError(res, 404, "no printer \"" + req.matches[1].str() + "\" in the fleet");
        res.set_content(*body, kJson);
    });
    api.Get(R"(/api/v1/printers/([^/]+)/days)", [this](const httplib::Request& req, httplib::Response& res) {
        int count = kDefaultDays;
        if (req.has_param("days")) {
            const std::string days = req.get_param_value("days");
            if (days.empty() || days.size() > 3 || days.find_first_not_of("0123456789") != std::string::npos ||
                (count = std::stoi(days)) < 1 || count > kMaxDays)
                return sendError(res, 400, "days: expected a whole number from 1 to " + std::to_string(kMaxDays));
        }
        auto body = daysJson(m_service, req.matches[1].str(), count, nowMs());
        if (!body) return sendError(res, 404, "no printer \"" + req.matches[1].str() + "\" in the fleet");
        res.set_content(*body, kJson);
    });
    api.Get("/api/v1/events", [this](const httplib::Request& req, httplib::Response& res) {
        EventHub& hub = m_service.hub;
        if (!hub.admit())
            return sendError(res, 503, "too many event streams (at most " + std::to_string(kMaxEventReaders) + ")");
        auto cursor = std::make_shared<uint64_t>(hub.lastId());
        // A reader that comes back names the last event it saw; a browser's
        // EventSource cannot send the header at first, so a parameter may.
        std::string last = req.get_header_value("Last-Event-ID");
        if (last.empty()) last = req.get_param_value("lastEventId");
        if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos)
            *cursor = std::min<uint64_t>(std::stoull(last), *cursor);
        auto quietSince = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "text/event-stream",
            [&hub, cursor, quietSince](size_t, httplib::DataSink& sink) {
                std::string frames;
                if (!hub.next(cursor.get(), &frames, kStreamWait)) return false;   // kvprtd stops
                auto now = std::chrono::steady_clock::now();
                if (frames.empty()) {
                    if (now - *quietSince < kKeepAlive) return true;
                    frames = ": keep-alive\n\n";
                }
                *quietSince = now;
                return sink.write(frames.data(), frames.size());
            },
            [&hub](bool) { hub.leave(); });
    });

    // The dashboard: its page and the files it loads.
    api.Get("/", [](const httplib::Request&, httplib::Response& res) { sendAsset(res, findWebAsset("index.html")); });
    api.Get(R"(/([a-z]+\.(?:html|css|js)))", [](const httplib::Request& req, httplib::Response& res) {
        sendAsset(res, findWebAsset(req.matches[1].str()));
    });

    // Anything else: JSON errors with the status a client expects. Methods
    // other than GET and HEAD are refused before routing, whatever the path.
    api.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (!hostAllowed(req.get_header_value("Host"))) {
            sendError(res, 403, "the Host header names no address of this kvprtd (--allowed-host adds a name)");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method == "GET" || req.method == "HEAD") return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("Allow", "GET, HEAD");
        sendError(res, 405, "only GET is served");
        return httplib::Server::HandlerResponse::Handled;
    });
    api.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 400 && !req.method.empty() && !kHttpMethods.contains(req.method))
            return sendError(res, 501, "no such HTTP method");
        sendError(res, res.status, res.status == 404 ? "no such resource: " + req.path : "malformed request");
    });
    api.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
        std::string what = "unknown failure";
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        logLine("HTTP request failed: " + what);
        sendError(res, 500, what);
    });
}

bool HttpServer::hostAllowed(std::string_view host) const {
    if (host.empty() || host.front() == '[') return true;   // none (HTTP/1.0), or an IPv6 address
    std::string name = lowerCase(host.substr(0, host.rfind(':')));
    in_addr v4{};
    if (::inet_pton(AF_INET, name.c_str(), &v4) == 1 || name == "localhost") return true;
    return std::find(m_allowedHosts.begin(), m_allowedHosts.end(), name) != m_allowedHosts.end();
}

bool HttpServer::bind(const std::string& host, int port, std::string* error) {
    errno = 0;
    m_port = port == 0 ? m_server.bind_to_any_port(host) : (m_server.bind_to_port(host, port) ? port : -1);
    if (m_port <= 0) {
        const int why = errno;
        *error = "cannot listen on " + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                 std::to_string(port) + (why ? std::string(": ") + std::strerror(why) : "");
        return false;
    }
    return true;
}

void HttpServer::start() {
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "kvprtd-http");
        m_server.listen_after_bind();
    });
}

void HttpServer::stop() {
    m_service.hub.close();
    m_server.stop();
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace kvprtd
