// The TCP transport: a printer reached over the engine's framed protocol
// (docs/protocol.md), as kvprtsimd serves them.
//
// One persistent connection per printer, shared by every thread that calls on
// it: each request carries a fresh request id, and replies can come back in
// any order. Whoever reads the connection hands each reply to the request with
// its id and passes pushed alert notices to BceNotifyAlert. A caller waiting
// for its reply reads the connection itself when no other thread does, so a
// round trip costs no hand-over between threads; the others wait for the
// reader to hand them their replies. While no request is under way, a watcher
// thread of the connection reads it (pushed alerts, a closed connection).
//
// Failures, as the printer's callers see them:
//   -10  the connection cannot be made (refused, host or network unreachable,
//        or the host name does not resolve)
//   -16  the connection was reset or closed while a request was under way
//   -17  no connection or no reply within the time-out
//   -2   the server sent something that is not a frame of the protocol; the
//        connection is dropped
//   -22  the server has no printer of the name or index in the URI
// After a failure the next request connects again. A reply that comes after
// its request timed out is dropped; the connection stays.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "kvprtobj/zorbce.h"
#include "wire/frame.h"
#include "wire/socket.h"

namespace zorbce {

// tcp://HOST:PORT[/PRINTER][?timeout=MS]
struct TcpAddress {
    std::string host, port;
    std::string printer;     // index or name on the server; empty = the first
    int timeoutMs = 5000;    // connection and reply time-out
};

// Default time-out in milliseconds, overridden by the environment variable
// KVPRTOBJ_TCP_TIMEOUT_MS and then by the URI's timeout parameter.
constexpr int kDefaultTcpTimeoutMs = 5000;

// Parses a tcp:// URI; false with a message when it is malformed.
bool parseTcpUri(const std::string& uri, TcpAddress* address, std::string* error);

class TcpPrinter : public BcePrinter {
public:
    explicit TcpPrinter(TcpAddress address);
    ~TcpPrinter() override;
    TcpPrinter(const TcpPrinter&) = delete;
    TcpPrinter& operator=(const TcpPrinter&) = delete;

    // Connects unless connected: 0, a channel-down code, or the server's refusal.
    long connect();

    long sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                  unsigned long* replyLength, const void* requestData, unsigned long requestLength) override;
    long queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) override;
    long getPrtInfo(PRTINFO* info, int refresh) override;
    long getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) override;
    long getPrinterName(unsigned int netType, char* name, char* address) override;

private:
    struct Pending {
        bool done = false;
        long rc = 0;
        kvwire::Frame reply;
    };

    // Sends one request and waits for its reply (a frame of type | kReplyBit).
    long call(uint8_t type, kvwire::Bytes payload, kvwire::Bytes* replyPayload);
    // Reads and hands on one frame of connection `fd` as its reader; `guard`
    // holds m_lock on entry and on return, no thread reads, and m_fd is `fd`.
    // A failure of the connection drops it. Returns how the read went.
    kvwire::Io readOne(std::unique_lock<std::mutex>& guard, int fd, int timeoutMs);
    // Drops connection `fd` after its reader saw `rc`: every waiting request
    // gets `rc`. `guard` holds m_lock on entry and on return; this thread was
    // the reader.
    void drop(std::unique_lock<std::mutex>& guard, int fd, long rc);
    void watchLoop(int fd);

    const TcpAddress m_address;
    std::mutex m_connectLock;   // one connection attempt at a time
    std::mutex m_writeLock;     // one frame on the wire at a time; taken before m_lock
    std::mutex m_lock;          // guards the members below
    std::condition_variable m_replied;   // a reply was handed on, or the reader stopped reading
    std::condition_variable m_idle;      // wakes the watcher: stop, or the connection dropped
    int m_fd = -1;
    bool m_stopping = false;
    bool m_reading = false;     // a thread reads the connection (one at a time)
    std::unique_ptr<kvwire::FrameReader> m_frames;   // of m_fd; used by the reading thread only
    std::chrono::steady_clock::time_point m_lastCall;
    uint32_t m_nextId = 1;
    std::map<uint32_t, std::shared_ptr<Pending>> m_pending;
    std::thread m_watcher;
};

}  // namespace zorbce
