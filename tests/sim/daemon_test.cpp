// The TCP transport against kvprtsimd: opening, printer selection, pushed
// alerts, and what the library sees when the daemon goes away, is slow or
// sends garbage.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "scripted_printer.h"
#include "sim_daemon.h"

using kvtest::ByteVec;
using kvtest::SimDaemon;
using Clock = std::chrono::steady_clock;

namespace {

// A printer handle opened on `uri`, closed at the end of the test.
struct Opened {
    unsigned short handle = 0;
    long rc;
    explicit Opened(const std::string& uri) : rc(BceOpenPrinter(uri.c_str(), &handle)) {}
    ~Opened() {
        if (rc == 0) BceClosePrinter(handle);
    }
};

// One engine request with a reply buffer; the engine's result.
long send(unsigned short handle, unsigned short code, const ByteVec& data = {}, ByteVec* reply = nullptr) {
    uint8_t buffer[2048];
    unsigned long length = sizeof buffer;
    long rc = BceSendBidi(0, handle, 0, code, buffer, &length, data.data(), data.size());
    if (rc == 0 && reply) reply->assign(buffer, buffer + length);
    return rc;
}

long sinceMs(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

TEST(SimDaemon, SelectsPrintersByIndexOrNameRefusesUnknownOnesAndMalformedUris) {
    SimDaemon daemon(KVPRTSIMD, {"--copies", "3"});
    Opened byIndex(daemon.uri("2")), byName(daemon.uri("simlaser-1")), first(daemon.uri());
    ASSERT_EQ(byIndex.rc | byName.rc | first.rc, 0);
    // Each printer keeps its own state: a tag set on printer 1 is not on printer 2.
    ByteVec reply;
    ASSERT_EQ(send(byName.handle, 0x4F, kvtest::hex("07 54 41 42")), 0);
    ASSERT_EQ(send(byName.handle, 0x4E, kvtest::hex("07 54"), &reply), 0);
    EXPECT_EQ(kvtest::toHex(reply), "4E 00 07 54 41 42");
    ASSERT_EQ(send(byIndex.handle, 0x4E, kvtest::hex("07 54"), &reply), 0);
    EXPECT_NE(kvtest::toHex(reply), "4E 00 07 54 41 42");

    Opened unknown(daemon.uri("nosuch"));
    EXPECT_EQ(unknown.rc, BCE_E_BAD_URI);
    EXPECT_NE(std::string(BceLastOpenError()).find("nosuch"), std::string::npos);
    Opened outOfRange(daemon.uri("3"));
    EXPECT_EQ(outOfRange.rc, BCE_E_BAD_URI);
    unsigned short handle;
    for (const char* uri : {"tcp://127.0.0.1", "tcp://127.0.0.1:99999", "tcp://:80", "tcp://127.0.0.1:80?timeout=0",
                            "tcp://127.0.0.1:80?colour=red", "ftp://127.0.0.1:80", ""}) {
        EXPECT_EQ(BceOpenPrinter(uri, &handle), BCE_E_BAD_URI) << uri;
        EXPECT_STRNE(BceLastOpenError(), "") << uri;
    }

    // The engine's reply-buffer rules hold over TCP.
    uint8_t small[4];
    unsigned long length = sizeof small;
    EXPECT_EQ(BceSendBidi(0, first.handle, 0, 0x10, small, &length, nullptr, 0), BCE_E_NO_MEMORY);
    EXPECT_GT(length, sizeof small);   // the length the reply needs
    length = 0;                        // no reply wanted
    EXPECT_EQ(BceSendBidi(0, first.handle, 0, 0x36, small, &length, nullptr, 0), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(send(first.handle, 0x99), BCE_E_INVALID);   // a request code the printer does not know
}

TEST(SimDaemon, PushesAlertsToEveryClientOfThePrinterAndServesTheirData) {
    SimDaemon daemon(KVPRTSIMD, {"--copies", "2"});
    Opened a(daemon.uri("0")), b(daemon.uri("0")), other(daemon.uri("1"));
    ASSERT_EQ(a.rc | b.rc | other.rc, 0);
    ASSERT_EQ(send(a.handle, 0x4F, kvtest::hex("01 02 04")), 0);
    for (unsigned short h : {a.handle, b.handle}) {
        unsigned short id = 0;
        unsigned long family = 0;
        ASSERT_EQ(BceWaitAlert(h, 5000, &id, &family), 0);
        EXPECT_EQ(family, 0x5FEu);
        uint8_t data[2048];
        unsigned long length = sizeof data;
        ASSERT_EQ(BceQueryAlerts(0, id, h, 2, data, &length), 0);
        EXPECT_EQ(kvtest::toHex(data, length), "03 40 09 01 02 04");
    }
    unsigned short id;
    unsigned long family;
    EXPECT_EQ(BceWaitAlert(other.handle, 100, &id, &family), BCE_E_NO_ALERT);
}

// Alerts raised on a timer (--raise-alerts-ms): kvprt's watch test.

TEST(SimDaemon, StoppedDaemonTakesBidiDownAndAForcedRequestBringsItBack) {
    SimDaemon daemon(KVPRTSIMD, {});
    Opened p(daemon.uri());
    ASSERT_EQ(p.rc, 0);
    kvtest::OpenPrtObj obj(p.handle, 1);
    ASSERT_EQ(obj.isBidiActive(), 1);
    KVPrtObj::PAGECOUNTDATA counts;
    ASSERT_EQ(obj.bidiGetPageCounts(&counts), 0);

    EXPECT_EQ(daemon.stop(), 0);   // SIGTERM ends it cleanly while a client is connected
    long rc = obj.bidiGetPageCounts(&counts);
    EXPECT_TRUE(rc == BCE_E_CHANNEL_DOWN || rc == BCE_E_CONNECTION_RESET) << rc;
    EXPECT_EQ(obj.isBidiActive(), 0);
    EXPECT_EQ(obj.bidiGetPageCounts(&counts), -11);                 // refused without a request
    EXPECT_EQ(send(p.handle, 0x0C), BCE_E_CHANNEL_DOWN);             // nobody listens now

    daemon.restart();
    void* reply = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(obj.bidiQuery(0x34, nullptr, 0, &reply, &length, 1, 1), 0);   // the loop-back request, forced
    ::operator delete(reply);
    EXPECT_EQ(obj.isBidiActive(), 1);
    EXPECT_EQ(obj.bidiGetPageCounts(&counts), 0);

    // A printer opened while the daemon is down connects later.
    std::string uri = daemon.uri();
    daemon.stop();
    Opened later(uri);
    ASSERT_EQ(later.rc, 0);
    EXPECT_EQ(send(later.handle, 0x0C), BCE_E_CHANNEL_DOWN);
    daemon.restart();
    EXPECT_EQ(send(later.handle, 0x0C), 0);
}

TEST(SimDaemon, SlowRepliesTimeOutWithinTheConfiguredTime) {
    SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "1500"});
    {
        Opened p(daemon.uri("", "timeout=150"));
        ASSERT_EQ(p.rc, 0);
        auto start = Clock::now();
        EXPECT_EQ(send(p.handle, 0x0C), BCE_E_TIMEOUT);
        EXPECT_GE(sinceMs(start), 140);
        EXPECT_LT(sinceMs(start), 1000);
    }
    ::setenv("KVPRTOBJ_TCP_TIMEOUT_MS", "100", 1);
    Opened p(daemon.uri());
    ::unsetenv("KVPRTOBJ_TCP_TIMEOUT_MS");
    ASSERT_EQ(p.rc, 0);
    kvtest::OpenPrtObj obj(p.handle, 0);
    obj.setBidi(1);
    auto start = Clock::now();
    KVPrtObj::PAGECOUNTDATA counts;
    EXPECT_EQ(obj.bidiGetPageCounts(&counts), BCE_E_TIMEOUT);
    EXPECT_LT(sinceMs(start), 1000);
    EXPECT_EQ(obj.isBidiActive(), 0);
}

TEST(SimDaemon, GarbageOrADroppedConnectionFailsOneRequestAndTheNextReconnects) {
    const std::pair<const char*, long> faults[] = {{"--garbage-every", BCE_E_BAD_REPLY},
                                                   {"--drop-every", BCE_E_CONNECTION_RESET}};
    for (auto [option, rc] : faults) {
        SimDaemon daemon(KVPRTSIMD, {option, "2"});
        Opened p(daemon.uri());
        ASSERT_EQ(p.rc, 0);
        for (long expected : {0l, rc, 0l, rc}) EXPECT_EQ(send(p.handle, 0x0C), expected) << option;
    }
}

