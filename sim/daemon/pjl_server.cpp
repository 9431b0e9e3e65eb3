#include "pjl_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <cstdio>
#include <deque>
#include <utility>

#include "profile.h"
#include "server.h"
#include "wire/socket.h"

namespace kvsimd {

using asio::ip::tcp;

struct PjlServer::Connection {
    Connection(tcp::socket s, kvsim::SimPrinter& printer, PjlFaults faults)
        : socket(std::move(s)), idle(socket.get_executor()), session(printer, faults, [](const std::string& line) {
              std::fprintf(stderr, "kvprtsimd: PJL: %s\n", line.c_str());
          }) {}
    tcp::socket socket;
    asio::steady_timer idle;
    PjlSession session;
    std::array<char, 4096> inbox;
    std::deque<std::string> outbox;   // front: being written
    bool readAfter = false;           // read again once the outbox is written
    bool dropped = false;
    std::string lastStatus;           // the status message it was last sent or told
};

PjlServer::PjlServer(std::shared_ptr<kvsim::SimPrinter> printer, PjlFaults faults)
    : m_printer(std::move(printer)), m_faults(faults), m_acceptor(m_loop) {}

PjlServer::~PjlServer() { stop(); }

bool PjlServer::listen(const std::string& host, const std::string& port, std::string* error) {
    int fd = kvwire::listenTcp(host, port, &m_port, error, SOMAXCONN);
    if (fd < 0) return false;
    if (std::error_code ec = adoptListener(m_acceptor, fd)) {
        *error = "cannot listen for PJL: " + ec.message();
        return false;
    }
    return true;
}

bool PjlServer::listensOnLoopback() const { return kvsimd::listensOnLoopback(m_acceptor); }

void PjlServer::start() {
    m_listener = m_printer->addAlertListener([this](unsigned short, unsigned long family) {
        if (family == kvsim::kFamilyDeviceStatus || family == kvsim::kFamilyOperatorPanel)
            asio::post(m_loop, [this] { pushStatus(); });
    });
    accept();
    m_thread = std::thread([this] {
        for (;;) {
            try {
                m_loop.run();
                return;
            } catch (const std::exception& e) {   // one connection may suffer (memory), never the daemon
                std::fprintf(stderr, "kvprtsimd: PJL: %s\n", e.what());
            }
        }
    });
}

void PjlServer::stop() {
    if (!m_thread.joinable()) return;
    m_printer->removeAlertListener(m_listener);
    asio::post(m_loop, [this] { m_loop.stop(); });
    m_thread.join();
}

void PjlServer::accept() {
    m_acceptor.async_accept([this](const std::error_code& error, tcp::socket peer) {
        if (error == asio::error::operation_aborted) return;
        if (!error) {
            // A print port serves one host at a time: with the fault, a second is closed.
            if (m_open >= kMaxConnections || (m_faults.oneConnection && m_open > 0)) {
                std::error_code ignored;
                peer.close(ignored);
            } else {
                auto c = std::make_shared<Connection>(std::move(peer), *m_printer, m_faults);
                ++m_open;
                std::erase_if(m_connections, [](const std::weak_ptr<Connection>& w) { return w.expired(); });
                m_connections.push_back(c);
                read(c);
            }
        }
        accept();
    });
}

// A connection that neither sends nor takes bytes for kIdleTimeout is closed.
void PjlServer::arm(const std::shared_ptr<Connection>& c) {
    c->idle.expires_after(kIdleTimeout);
    c->idle.async_wait([c](const std::error_code& error) {
        std::error_code ignored;
        if (!error) c->socket.close(ignored);
    });
}

void PjlServer::read(const std::shared_ptr<Connection>& c) {
    arm(c);
    c->socket.async_read_some(asio::buffer(c->inbox), [this, c](const std::error_code& error, size_t n) {
        c->idle.cancel();
        if (error) return drop(c);
        std::string bytes = c->session.take(std::string_view(c->inbox.data(), n));
        // What the host asked the status for was told it now (INFO STATUS in the same block, as hosts do).
        if (!c->session.deviceStatus()) c->lastStatus.clear();
        else if (c->lastStatus.empty()) c->lastStatus = m_printer->pjlStatusMessage();
        answer(c, std::move(bytes));
    });
}

// Writes the answer, then reads again; with the endless fault it writes on
// and never reads. A session past its bounds is closed unanswered.
void PjlServer::answer(const std::shared_ptr<Connection>& c, std::string bytes) {
    if (c->session.closing()) return drop(c);
    if (bytes.empty() && !c->session.endless()) return read(c);
    c->readAfter = true;
    enqueue(c, bytes.empty() ? std::string(PjlSession::endlessChunk()) : std::move(bytes));
}

void PjlServer::enqueue(const std::shared_ptr<Connection>& c, std::string bytes) {
    c->outbox.push_back(std::move(bytes));
    if (c->outbox.size() == 1) writeFront(c);
}

void PjlServer::writeFront(const std::shared_ptr<Connection>& c) {
    arm(c);
    asio::async_write(c->socket, asio::buffer(c->outbox.front()), [this, c](const std::error_code& error, size_t) {
        c->idle.cancel();
        if (error) return drop(c);
        c->outbox.pop_front();
        if (!c->outbox.empty()) return writeFront(c);
        if (c->session.endless()) return answer(c, {});
        if (std::exchange(c->readAfter, false)) return read(c);
        arm(c);   // a status was written while a read waits
    });
}

void PjlServer::drop(const std::shared_ptr<Connection>& c) {
    if (std::exchange(c->dropped, true)) return;
    std::error_code ignored;
    c->socket.close(ignored);
    c->idle.cancel();
    --m_open;
}

void PjlServer::pushStatus() {
    const std::string message = m_printer->pjlStatusMessage();
    for (const auto& weak : m_connections) {
        auto c = weak.lock();
        if (!c || c->dropped || !c->session.deviceStatus() || c->session.endless() || c->lastStatus == message)
            continue;
        c->lastStatus = message;
        enqueue(c, message);
    }
}

}  // namespace kvsimd
