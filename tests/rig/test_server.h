// A TCP server of the test's own on 127.0.0.1: every connection it accepts
// goes to `serve`, on a thread of its own, and is closed when `serve` returns.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <thread>

#include "wire/socket.h"

namespace kvtest {

class TestServer {
public:
    explicit TestServer(std::function<void(int fd)> serve) : m_serve(std::move(serve)) {
        std::string error;
        m_listener = kvwire::listenTcp("127.0.0.1", "0", &m_port, &error);
        m_acceptor = std::thread([this] {
            // Polled first: a blocked accept holds the lowest free descriptor.
            for (int fd; waitForClient() && (fd = ::accept(m_listener, nullptr, nullptr)) >= 0;)
                m_connections.emplace_back([this, fd] {
                    m_serve(fd);
                    ::close(fd);
                });
        });
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    ~TestServer() {
        ::shutdown(m_listener, SHUT_RDWR);   // the poll wakes, the accept fails
        m_acceptor.join();
        for (auto& c : m_connections) c.join();
        ::close(m_listener);
    }
    std::string uri(const std::string& query) const {
        return "tcp://127.0.0.1:" + std::to_string(m_port) + "?" + query;
    }
    uint16_t port() const { return m_port; }

private:
    bool waitForClient() {
        pollfd p{m_listener, POLLIN, 0};
        return ::poll(&p, 1, -1) > 0;
    }

    std::function<void(int)> m_serve;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    std::list<std::thread> m_connections;
};

}  // namespace kvtest
