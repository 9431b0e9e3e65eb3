// The TCP transport: a printer reached over the engine's framed protocol
// (docs/protocol.md), as kvprtsimd serves them.
//
// One persistent connection per printer, shared by every thread that calls on
// it and driven by the engine's one I/O thread (tcp_link.h): requests carry
// fresh request ids and are pipelined, replies can come back in any order and
// go to the request with their id, and pushed alert notices become
// BceNotifyAlert calls on the I/O thread. The synchronous calls send their
// request and wait for its reply (reading the connection themselves while
// nobody else does); the asynchronous ones finish on the I/O thread. A
// synchronous call made on the I/O thread fails with -3: it would wait for
// itself.
//
// Failures, as the printer's callers see them:
//   -10  the connection cannot be made (refused, host or network unreachable,
//        or the host name does not resolve)
//   -16  the connection was reset or closed while a request was under way
//   -17  no connection (with the server's answer to the greeting) or no reply
//        within the time-out; after a connection attempt timed out, requests
//        fail at once for one more time-out
//   -2   the server sent something that is not a frame of the protocol, or a
//        reply whose length disagrees with the bytes it carries; the
//        connection is dropped (but for the reply)
//   -22  the server has no printer of the name or index in the URI
//   -20  the printer was closed while an asynchronous request was under way
// After a failure the next request connects again. A reply that comes after
// its request timed out is dropped; the connection stays.
#pragma once

#include <memory>
#include <string>

#include "kvprtobj/zorbce.h"
#include "tcp_link.h"
#include "wire/frame.h"

namespace zorbce {

// Default time-out in milliseconds, overridden by the environment variable
// KVPRTOBJ_TCP_TIMEOUT_MS and then by the URI's timeout parameter.
constexpr int kDefaultTcpTimeoutMs = 5000;

// Parses a tcp:// URI; false with a message when it is malformed (or names a
// printer longer than the greeting can carry).
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
    long sendBidiAsync(short appId, unsigned int netType, unsigned short requestCode, const void* requestData,
                       unsigned long requestLength, unsigned long capacity, BceCompletion done,
                       void* context) override;
    long queryAlertsAsync(short appId, unsigned short alertId, int flag, unsigned long capacity, BceCompletion done,
                          void* context) override;
    std::string lastFailure() const override;

    // Calls start(context), then writes the asynchronous requests this thread
    // made on the printer from then on, reads their replies and completes
    // them on this thread, until none is left (BceRunAsync). -3 on the I/O
    // thread or within another runAsync.
    long runAsync(void (*start)(void*), void* context);

private:
    // Sends one request of message `type` and waits for its reply: 0 with a
    // reply of that type, or why not.
    long exchange(uint8_t type, const kvwire::Bytes& payload, kvwire::Frame* reply);
    // Starts a request whose data reply goes to `done`.
    long startAsync(uint8_t type, const kvwire::Bytes& payload, uint32_t capacity, BceCompletion done,
                    void* context);

    std::shared_ptr<TcpLink> m_link;
};

}  // namespace zorbce
