// kvprtsimd's server: simulated printers served over the engine's framed TCP
// protocol (docs/protocol.md) to any number of clients at once.
//
// Each connection has a reader thread, which answers its requests at once;
// with a reply delay they go to a pool of workers instead, so the replies of
// one connection may leave in another order than their requests came. New alerts of a printer are pushed to every connection
// greeted for it. Fault options make the server slow, drop connections or
// send garbage, for tests of the clients.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kvprtobj/kvprtsim.h"
#include "wire/frame.h"

namespace kvsimd {

struct ServerOptions {
    std::string host = "127.0.0.1";
    std::string port = "0";
    unsigned workers = 8;        // threads that carry out delayed requests
    unsigned delayMs = 0;        // every reply waits this long
    unsigned dropEvery = 0;      // every Nth request (counted over all connections) closes its connection unanswered
    unsigned garbageEvery = 0;   // every Nth request is answered with bytes that are no frame
    unsigned raiseAlertsMs = 0;  // raise each printer's profile alerts in turn at this interval
};

struct ServedPrinter {
    std::string name;
    std::shared_ptr<kvsim::SimPrinter> printer;
};

class Server {
public:
    Server(std::vector<ServedPrinter> printers, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the listening socket; false with a message.
    bool listen(std::string* error);
    uint16_t port() const { return m_port; }
    const std::vector<ServedPrinter>& printers() const { return m_printers; }

    void start();
    // Closes the listening socket and every connection; joins every thread.
    void stop();

private:
    struct Connection {
        int fd = -1;
        size_t printer = 0;
        std::atomic<bool> greeted{false};
        bool closed = false;        // guarded by writeLock
        std::mutex writeLock;
        std::thread reader;
        std::atomic<bool> finished{false};
    };
    struct Job {
        std::shared_ptr<Connection> connection;
        kvwire::Frame request;
    };

    void acceptLoop();
    void readLoop(std::shared_ptr<Connection> connection);
    void workLoop();
    void alertLoop();
    void reapFinished();
    bool greet(Connection& connection, const kvwire::Frame& hello);
    kvwire::Frame answer(size_t printer, const kvwire::Frame& request);
    void send(Connection& connection, const kvwire::Frame& frame);
    void sendRaw(Connection& connection, const void* data, size_t length);
    void pushAlert(size_t printer, unsigned short alertId, unsigned long family);

    std::vector<ServedPrinter> m_printers;
    std::vector<int> m_listenerTokens;
    const ServerOptions m_options;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<unsigned long> m_requestCount{0};

    std::thread m_acceptor;
    std::thread m_alerter;
    std::vector<std::thread> m_workers;

    std::mutex m_connectionsLock;
    std::list<std::shared_ptr<Connection>> m_connections;

    std::mutex m_queueLock;
    std::condition_variable m_queued;
    std::deque<Job> m_queue;

    std::mutex m_stopLock;
    std::condition_variable m_stopped;
};

}  // namespace kvsimd
