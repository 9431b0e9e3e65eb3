#include "http.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <set>

#include "api.h"
#include "metrics.h"
#include "times.h"
#include "web.h"

namespace kvprtd {
namespace {

constexpr const char* kJson = "application/json";
constexpr auto kKeepAlive = std::chrono::seconds(15);   // a comment on a quiet event stream
constexpr std::string_view kPrinters = "/api/v1/printers/";

// The dashboard runs nothing but its own files: no inline script or style, no
// other site, so that a printer's text that slipped into the page as markup
// could do nothing.
constexpr const char* kDashboardPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// The methods of HTTP; any other is answered 501, these but GET and HEAD 405.
const std::set<std::string, std::less<>> kHttpMethods = {"GET",  "HEAD",  "POST",  "PUT", "DELETE",
                                                         "CONNECT", "OPTIONS", "TRACE", "PATCH"};

HttpAnswer reply(std::string body, std::string contentType = kJson) {
    return {{200, std::move(contentType), std::move(body), {}}, {}, {}};
}

HttpAnswer error(int status, std::string_view message) { return {errorReply(status, message), {}, {}}; }

HttpAnswer noPrinter(std::string_view name) { return error(404, "no printer \"" + std::string(name) + "\" in the fleet"); }

HttpAnswer asset(const WebAsset* asset) {
    if (asset == nullptr) return error(404, "no such resource");
    return {{200,
             std::string(contentType(asset->name)),
             std::string(asset->body),
             {{"Content-Security-Policy", kDashboardPolicy},
              {"X-Content-Type-Options", "nosniff"},
              {"Referrer-Policy", "no-referrer"},
              {"Cache-Control", "no-cache"}}},
            {},
            {}};
}

// A time parameter of the history, or `fallback` when absent; false when malformed.
bool timeParameter(const HttpRequest& req, const char* name, int64_t fallback, int64_t* value) {
    if (!req.hasParam(name)) {
        *value = fallback;
        return true;
    }
    auto parsed = parseTime(req.param(name));
    if (!parsed) return false;
    *value = *parsed;
    return true;
}

HttpAnswer history(const Service& service, const HttpRequest& req, const std::string& name) {
    int64_t until = 0, since = 0;
    if (!timeParameter(req, "until", nowMs(), &until))
        return error(400, "until: expected seconds since the epoch or an RFC 3339 time");
    if (!timeParameter(req, "since", until - kDefaultHistoryMs, &since))
        return error(400, "since: expected seconds since the epoch or an RFC 3339 time");
    if (since > until) return error(400, "since: later than until");
    auto body = historyJson(service, name, since, until);
    return body ? reply(*body) : noPrinter(name);
}

// A whole-number parameter from `min` to `max`, or `fallback` when absent; false when it is none.
bool wholeParameter(const HttpRequest& req, const char* name, uint64_t min, uint64_t max, uint64_t fallback,
                    uint64_t* value) {
    if (!req.hasParam(name)) {
        *value = fallback;
        return true;
    }
    const std::string digits = req.param(name);
    if (digits.empty() || digits.size() > 19 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoull(digits);
    return *value >= min && *value <= max;
}

HttpAnswer days(const Service& service, const HttpRequest& req, const std::string& name) {
    uint64_t count = 0;
    if (!wholeParameter(req, "days", 1, kMaxDays, kDefaultDays, &count))
        return error(400, "days: expected a whole number from 1 to " + std::to_string(kMaxDays));
    auto body = daysJson(service, name, static_cast<int>(count), nowMs());
    return body ? reply(*body) : noPrinter(name);
}

HttpAnswer printerEvents(const Service& service, const HttpRequest& req, const std::string& name) {
    uint64_t limit = 0, before = 0;
    if (!wholeParameter(req, "limit", 1, kMaxEventPage, kDefaultEventPage, &limit))
        return error(400, "limit: expected a whole number from 1 to " + std::to_string(kMaxEventPage));
    if (!wholeParameter(req, "before", 1, INT64_MAX, 0, &before))
        return error(400, "before: expected an event's id, a whole number from 1");
    auto body = eventsJson(service, name, before, limit);
    return body ? reply(*body) : noPrinter(name);
}

bool isAssetName(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) return false;
    std::string_view stem = name.substr(0, dot), ext = name.substr(dot + 1);
    return std::all_of(stem.begin(), stem.end(), [](char c) { return c >= 'a' && c <= 'z'; }) &&
           (ext == "html" || ext == "css" || ext == "js");
}

}  // namespace

HttpServer::HttpServer(Service& service, std::string version, std::vector<std::string> allowedHosts,
                       const WebConfig& web)
    : m_service(service),
      m_version(std::move(version)),
      m_allowedHosts(std::move(allowedHosts)),
      m_auth(web.users),
      m_server([this](const HttpRequest& request) { return answer(request); }, web.tls) {
    for (std::string& name : m_allowedHosts) name = lowerCase(name);
}

HttpAnswer HttpServer::answer(const HttpRequest& request) {
    if (!hostAllowed(request.header("Host")))
        return error(403, "the Host header names no address of this kvprtd (--allowed-host adds a name)");
    if (m_auth.required() && !m_auth.allows(request.header("Authorization"))) {
        HttpAnswer refused = error(401, "a user name and password of the web configuration are needed");
        refused.reply.headers.emplace_back("WWW-Authenticate", "Basic realm=\"kvprtd\", charset=\"UTF-8\"");
        return refused;
    }
    if (!kHttpMethods.contains(request.method)) return error(501, "no such HTTP method");
    if (request.method != "GET" && request.method != "HEAD") {
        HttpAnswer refused = error(405, "only GET is served");
        refused.reply.headers.emplace_back("Allow", "GET, HEAD");
        return refused;
    }
    return route(request);
}

HttpAnswer HttpServer::route(const HttpRequest& req) {
    const std::string& path = req.path;
    if (path == "/metrics") return reply(renderMetrics(m_service), "text/plain; version=0.0.4; charset=utf-8");
    if (path == "/api/v1/status") return reply(statusJson(m_service, m_version));
    if (path == "/api/v1/printers") return reply(printersJson(m_service));
    if (path == "/api/v1/events") return events(req);
    if (path == "/") return asset(findWebAsset("index.html"));
    if (path.starts_with(kPrinters)) {
        std::string_view rest = std::string_view(path).substr(kPrinters.size());
        const std::string name(rest.substr(0, rest.find('/')));
        const std::string_view what = rest.substr(name.size());
        if (!name.empty() && what.empty()) {
            auto body = printerJson(m_service, name);
            return body ? reply(*body) : noPrinter(name);
        }
        if (!name.empty() && what == "/history") return history(m_service, req, name);
        if (!name.empty() && what == "/days") return days(m_service, req, name);
        if (!name.empty() && what == "/events") return printerEvents(m_service, req, name);
    }
    if (isAssetName(std::string_view(path).substr(1))) return asset(findWebAsset(path.substr(1)));
    return error(404, "no such resource: " + path);
}

HttpAnswer HttpServer::events(const HttpRequest& req) {
    EventHub& hub = m_service.hub;
    if (!hub.admit(req.peer)) {
        HttpAnswer refused = error(503, "too many event streams (at most " + std::to_string(kMaxEventReaders) + ", " +
                                            std::to_string(kMaxEventReadersPerAddress) + " from one address)");
        refused.reply.close = true;
        return refused;
    }
    uint64_t cursor = hub.lastId();
    // A reader that comes back names the last event it saw; a browser's
    // EventSource cannot send the header at first, so a parameter may.
    std::string last = req.header("Last-Event-ID");
    if (last.empty()) last = req.param("lastEventId");
    if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos)
        cursor = std::min<uint64_t>(std::stoull(last), cursor);
    HttpAnswer stream = reply("", "text/event-stream");
    stream.reply.headers.emplace_back("Cache-Control", "no-store");
    stream.stream = [&hub, cursor, quietSince = std::chrono::steady_clock::now()](std::string* more) mutable {
        if (!hub.next(&cursor, more, std::chrono::milliseconds(0))) return false;   // kvprtd stops
        auto now = std::chrono::steady_clock::now();
        if (more->empty()) {
            if (now - quietSince < kKeepAlive) return true;
            *more = ": keep-alive\n\n";
        }
        quietSince = now;
        return true;
    };
    stream.ended = [&hub, peer = req.peer] { hub.leave(peer); };
    return stream;
}

bool HttpServer::hostAllowed(std::string_view host) const {
    if (host.empty() || host.front() == '[') return true;   // none (HTTP/1.0), or an IPv6 address
    std::string name = lowerCase(host.substr(0, host.rfind(':')));
    in_addr v4{};
    if (::inet_pton(AF_INET, name.c_str(), &v4) == 1 || name == "localhost") return true;
    return std::find(m_allowedHosts.begin(), m_allowedHosts.end(), name) != m_allowedHosts.end();
}

bool HttpServer::bind(const std::string& host, int port, std::string* error) {
    return m_server.ok(error) && m_server.bind(host, port, error);
}

void HttpServer::start() { m_server.start(kThreads); }

void HttpServer::stop() {
    m_service.hub.close();
    m_server.stop();
}

}  // namespace kvprtd
