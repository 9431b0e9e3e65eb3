// kvprtd's HTTP server (cpp-httplib) on a small fixed pool of threads. Every
// route is registered in one place (HttpServer::routes); api.h lists them.
#pragma once

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <httplib.h>

#include "service.h"

namespace kvprtd {

class HttpServer {
public:
    // Threads that answer requests; each event-stream reader holds one.
    static constexpr unsigned kThreads = 8;
    static constexpr unsigned kMaxEventReaders = 4;

    // `allowedHosts`: names clients may reach kvprtd by (the Host header),
    // beside IP addresses and localhost, which always may. Any other name is
    // refused with 403, so that a page of another site that has its name
    // resolve to this address (DNS rebinding) reads nothing.
    HttpServer(Service& service, std::string version, std::vector<std::string> allowedHosts = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds to host:port (port 0 picks one); false with a message.
    bool bind(const std::string& host, int port, std::string* error);
    int port() const { return m_port; }
    void start();
    void stop();

private:
    void routes();
    bool hostAllowed(std::string_view host) const;

    Service& m_service;
    std::string m_version;
    std::vector<std::string> m_allowedHosts;   // lower case
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

}  // namespace kvprtd
