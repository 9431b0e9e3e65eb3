// kvprtd's HTTP API and dashboard on the bounded server (http_server.h).
// Every route is in one place (HttpServer::route); api.h lists them. Before
// routing, each request passes the Host check, then basic authentication
// when the web configuration names users; only GET and HEAD are served.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http_server.h"
#include "service.h"
#include "web_config.h"

namespace kvprtd {

class HttpServer {
public:
    // Threads that answer requests; no connection holds one while it waits.
    static constexpr unsigned kThreads = 4;
    // Event-stream readers at once, and from any one address.
    static constexpr unsigned kMaxEventReaders = 64;
    static constexpr unsigned kMaxEventReadersPerAddress = 8;

    // `allowedHosts`: names clients may reach kvprtd by (the Host header),
    // beside IP addresses and localhost, which always may. Any other name is
    // refused with 403, so that a page of another site that has its name
    // resolve to this address (DNS rebinding) reads nothing.
    // `web`: TLS and the users of basic authentication (web_config.h).
    HttpServer(Service& service, std::string version, std::vector<std::string> allowedHosts = {},
               const WebConfig& web = {});
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds to host:port (port 0 picks one); false with a message (also for
    // TLS files that cannot be used).
    bool bind(const std::string& host, int port, std::string* error);
    int port() const { return m_server.port(); }
    void start();
    void stop();
    BoundedHttpServer::Counts counts() const { return m_server.counts(); }

private:
    HttpAnswer answer(const HttpRequest& request);
    HttpAnswer route(const HttpRequest& request);
    HttpAnswer events(const HttpRequest& request);
    bool hostAllowed(std::string_view host) const;

    Service& m_service;
    std::string m_version;
    std::vector<std::string> m_allowedHosts;   // lower case
    BasicAuth m_auth;
    BoundedHttpServer m_server;
};

}  // namespace kvprtd
