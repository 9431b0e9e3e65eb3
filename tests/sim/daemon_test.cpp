// The TCP transport against kvprtsimd: opening, printer selection, pushed
// alerts, and what the library sees when the daemon goes away, is slow or
// sends garbage; and against a server of the test's own for what kvprtsimd
// never does.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <thread>

#include "scripted_printer.h"
#include "sim_daemon.h"
#include "wire/socket.h"

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

// The result of an asynchronous request, to wait for.
std::future<long> sendAsync(unsigned short handle, unsigned short code, unsigned long capacity = 2048) {
    auto* result = new std::promise<long>;
    std::future<long> future = result->get_future();
    auto done = [](void* self, long rc, const void*, unsigned long) {
        auto* p = static_cast<std::promise<long>*>(self);
        p->set_value(rc);
        delete p;
    };
    if (long rc = BceSendBidiAsync(0, handle, 0, code, nullptr, 0, capacity, done, result); rc != 0) done(result, rc, nullptr, 0);
    return future;
}

// A server of the test's own: every connection it accepts goes to `serve`,
// on a thread of its own, and is closed when `serve` returns.
class TestServer {
public:
    explicit TestServer(std::function<void(int fd)> serve) : m_serve(std::move(serve)) {
        std::string error;
        m_listener = kvwire::listenTcp("127.0.0.1", "0", &m_port, &error);
        m_acceptor = std::thread([this] {
            for (int fd; (fd = ::accept(m_listener, nullptr, nullptr)) >= 0;)
                m_connections.emplace_back([this, fd] {
                    m_serve(fd);
                    ::close(fd);
                });
        });
    }
    ~TestServer() {
        ::shutdown(m_listener, SHUT_RDWR);   // accept fails
        m_acceptor.join();
        for (auto& c : m_connections) c.join();
        ::close(m_listener);
    }
    std::string uri(const std::string& query) const {
        return "tcp://127.0.0.1:" + std::to_string(m_port) + "?" + query;
    }

private:
    std::function<void(int)> m_serve;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    std::list<std::thread> m_connections;
};

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
    const std::string tooLongForTheGreeting = "tcp://127.0.0.1:80/" + std::string(65536, 'p');
    for (const char* uri : {"tcp://127.0.0.1", "tcp://127.0.0.1:99999", "tcp://:80", "tcp://127.0.0.1:80?timeout=0",
                            "tcp://127.0.0.1:80?colour=red", "ftp://127.0.0.1:80", "", tooLongForTheGreeting.c_str()}) {
        EXPECT_EQ(BceOpenPrinter(uri, &handle), BCE_E_BAD_URI) << std::string(uri).substr(0, 40);
        EXPECT_STRNE(BceLastOpenError(), "") << std::string(uri).substr(0, 40);
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


TEST(SimDaemon, RequestsInFlightFailWhenTheDaemonDiesOrTheirPrinterClosesAndTheNextReconnects) {
    SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "400", "--workers", "8"});
    Opened p(daemon.uri()), closing(daemon.uri());
    ASSERT_EQ(p.rc | closing.rc, 0);
    std::vector<std::future<long>> waiting;
    for (int i = 0; i < 3; ++i) waiting.push_back(std::async(std::launch::async, [&] { return send(p.handle, 0x0C); }));
    for (int i = 0; i < 5; ++i) waiting.push_back(sendAsync(p.handle, 0x0C));
    std::future<long> closed = sendAsync(closing.handle, 0x0C);
    BceClosePrinter(closing.handle);
    closing.rc = -1;
    EXPECT_EQ(closed.get(), BCE_E_BAD_HANDLE);   // finished by the close

    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // every request is out
    auto start = Clock::now();
    daemon.kill();
    for (auto& w : waiting) EXPECT_EQ(w.get(), BCE_E_CONNECTION_RESET);
    EXPECT_LT(sinceMs(start), 300);   // at once, not at the reply or the time-out
    daemon.restart();
    EXPECT_EQ(send(p.handle, 0x0C), 0);
}

TEST(SimDaemon, CompletionsAndAlertCallbacksRunOnTheIoThreadWhereSynchronousCallsAreRefused) {
    SimDaemon daemon(KVPRTSIMD, {});
    Opened p(daemon.uri());
    ASSERT_EQ(p.rc, 0);
    struct Seen {
        unsigned short handle;
        std::string uri;
        std::promise<std::pair<long, long>> inCompletion;   // a request, an open
        std::promise<long> inCallback;
    } seen{p.handle, daemon.uri(), {}, {}};
    auto completion = [](void* self, long, const void*, unsigned long) {
        auto* s = static_cast<Seen*>(self);
        unsigned short handle;
        s->inCompletion.set_value({send(s->handle, 0x0C), BceOpenPrinter(s->uri.c_str(), &handle)});
    };
    auto callback = [](void* self, unsigned short handle, unsigned short alertId, unsigned long) {
        uint8_t data[256];
        unsigned long length = sizeof data;
        static_cast<Seen*>(self)->inCallback.set_value(BceQueryAlerts(0, alertId, handle, 2, data, &length));
        BceSetAlertCallback(handle, nullptr, nullptr);
    };
    ASSERT_EQ(BceSendBidiAsync(0, p.handle, 0, 0x0C, nullptr, 0, 2048, completion, &seen), 0);
    EXPECT_EQ(seen.inCompletion.get_future().get(), std::pair(long{BCE_E_INVALID}, long{BCE_E_INVALID}));
    ASSERT_EQ(BceSetAlertCallback(p.handle, callback, &seen), 0);
    ASSERT_EQ(send(p.handle, 0x4F, kvtest::hex("01 02 04")), 0);   // a variable event
    EXPECT_EQ(seen.inCallback.get_future().get(), BCE_E_INVALID);
}

// A server that answers greetings, and every bidi request and alert read with
// the data reply the test chose for its code or alert id.
struct DataServer {
    std::map<std::pair<uint8_t, uint16_t>, kvwire::DataReply> replies;
    TestServer server{[this](int fd) {
        kvwire::FrameReader frames(fd);
        for (kvwire::Frame f; frames.read(&f) == kvwire::Io::Ok;) {
            kvwire::SendBidiRequest bidi;
            kvwire::QueryAlertRequest alert;
            kvwire::Bytes answer;
            if (f.type == kvwire::kHello)
                answer = kvwire::encode(kvwire::HelloReply{0, "rogue"});
            else if (f.type == kvwire::kSendBidi && kvwire::decode(f.payload, &bidi))
                answer = kvwire::encode(replies[{f.type, bidi.code}]);
            else if (kvwire::decode(f.payload, &alert))
                answer = kvwire::encode(replies[{f.type, alert.alertId}]);
            kvwire::writeFrame(fd, {static_cast<uint8_t>(f.type | kvwire::kReplyBit), f.id, answer});
        }
    }};
};

TEST(RogueServer, RepliesWhoseLengthDisagreesWithTheirBytesAreBadReplies) {
    const kvwire::Bytes five(5, 0x11), full(2048, 0x22);
    struct Row {
        const char* what;
        uint8_t type;
        kvwire::DataReply reply;
        long rc;
    } rows[] = {
        {"reply of 5 bytes claiming 40", kvwire::kSendBidi, {0, 40, five}, BCE_E_BAD_REPLY},
        {"reply of 5 bytes claiming 4", kvwire::kSendBidi, {0, 4, five}, BCE_E_BAD_REPLY},
        {"failure carrying bytes", kvwire::kSendBidi, {BCE_E_NO_MEMORY, 100, five}, BCE_E_BAD_REPLY},
        {"reply carried whole", kvwire::kSendBidi, {0, 5, five}, 0},
        {"alert of 5 bytes claiming 40", kvwire::kQueryAlert, {0, 40, five}, BCE_E_BAD_REPLY},
        {"alert longer than the buffer, cut at it", kvwire::kQueryAlert, {0, 4000, full}, 0},
    };
    DataServer rogue;
    for (uint16_t i = 0; i < std::size(rows); ++i) rogue.replies[{rows[i].type, i}] = rows[i].reply;
    Opened p(rogue.server.uri("timeout=2000"));
    ASSERT_EQ(p.rc, 0);
    for (uint16_t i = 0; i < std::size(rows); ++i) {
        uint8_t buffer[2048];
        unsigned long length = sizeof buffer;
        bool alert = rows[i].type == kvwire::kQueryAlert;
        long rc = alert ? BceQueryAlerts(0, i, p.handle, 2, buffer, &length)
                        : BceSendBidi(0, p.handle, 0, i, buffer, &length, nullptr, 0);
        EXPECT_EQ(rc, rows[i].rc) << rows[i].what;
        if (!alert) {
            EXPECT_EQ(sendAsync(p.handle, i).get(), rows[i].rc) << rows[i].what << ", asynchronous";
        }
    }
}

TEST(RogueServer, AGreetingNeverAnsweredCostsOneTimeOut) {
    TestServer silent([](int fd) {
        kvwire::Frame f;
        while (kvwire::readFrame(fd, &f) == kvwire::Io::Ok) {   // until the client gives up
        }
    });
    auto start = Clock::now();
    Opened p(silent.uri("timeout=300"));
    EXPECT_EQ(p.rc, 0);                              // opened: the server may come round
    EXPECT_EQ(send(p.handle, 0x0C), BCE_E_TIMEOUT);  // at once: the attempt just timed out
    EXPECT_GE(sinceMs(start), 290);
    EXPECT_LT(sinceMs(start), 500);
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    start = Clock::now();
    EXPECT_EQ(send(p.handle, 0x0C), BCE_E_TIMEOUT);  // tried again, waited once
    EXPECT_GE(sinceMs(start), 290);
    EXPECT_LT(sinceMs(start), 500);
}
