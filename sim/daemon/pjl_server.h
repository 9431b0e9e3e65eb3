// kvprtsimd's PJL port (--pjl-listen): printer 0 answering PJL on a TCP port
// of its own, as a printer's print port does, from the same state as the
// engine protocol's port. Its own event loop on its own thread; each
// connection reads, answers (pjl_protocol.h) and writes in turn, so what it
// holds stays bounded; at most kMaxConnections at once, a connection idle
// for kIdleTimeout is closed. A connection that asked for the device status
// (USTATUS DEVICE=ON) is also sent the printer's status message whenever a
// device-status or operator-panel alert of the printer changes it, queued
// behind the answer being written, if any.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kvprtobj/kvprtsim.h"
#include "pjl_protocol.h"

namespace kvsimd {

class PjlServer {
public:
    static constexpr size_t kMaxConnections = 64;
    static constexpr std::chrono::seconds kIdleTimeout{600};

    PjlServer(std::shared_ptr<kvsim::SimPrinter> printer, PjlFaults faults);
    ~PjlServer();
    PjlServer(const PjlServer&) = delete;
    PjlServer& operator=(const PjlServer&) = delete;

    // Binds the listening socket; false with a message.
    bool listen(const std::string& host, const std::string& port, std::string* error);
    uint16_t port() const { return m_port; }
    bool listensOnLoopback() const;
    // Starts the loop thread (std::system_error when it cannot be started).
    void start();
    // Closes the listening socket and every connection; joins the thread.
    void stop();

private:
    struct Connection;
    void accept();
    void arm(const std::shared_ptr<Connection>& c);
    void read(const std::shared_ptr<Connection>& c);
    // The answer to what was read: written, then the next read.
    void answer(const std::shared_ptr<Connection>& c, std::string bytes);
    void enqueue(const std::shared_ptr<Connection>& c, std::string bytes);
    void writeFront(const std::shared_ptr<Connection>& c);
    void drop(const std::shared_ptr<Connection>& c);
    // The status to every connection that asked for it and was not sent it last.
    void pushStatus();

    std::shared_ptr<kvsim::SimPrinter> m_printer;
    const PjlFaults m_faults;
    asio::io_context m_loop;
    asio::ip::tcp::acceptor m_acceptor;
    uint16_t m_port = 0;
    size_t m_open = 0;   // connections open, on the loop thread
    std::vector<std::weak_ptr<Connection>> m_connections;   // on the loop thread
    int m_listener = -1;   // the printer's alert listener while started
    std::thread m_thread;
};

}  // namespace kvsimd
