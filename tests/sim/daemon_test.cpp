// The TCP transport against kvprtsimd: opening, printer selection, pushed
// alerts, and what the library sees when the daemon goes away, is slow or
// sends garbage; against a server of the test's own for what kvprtsimd never
// does; the daemon's bounds against hostile clients; and its PJL port.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <semaphore>
#include <sstream>
#include <thread>
#include <utility>

#include "kvprtobj/batch.h"
#include "no_free_descriptors.h"
#include "pjl.h"
#include "scripted_printer.h"
#include "sim_daemon.h"
#include "temp_dir.h"
#include "test_server.h"
#include "wire/frame.h"
#include "wire/socket.h"

using kvtest::ByteVec;
using kvtest::SimDaemon;
using kvtest::TestServer;
using Clock = std::chrono::steady_clock;

namespace {

// A printer handle opened on `uri`, which must open.
struct Opened : kvtest::OpenedPrinter {
    explicit Opened(const std::string& uri) : OpenedPrinter(uri) {
        EXPECT_EQ(rc, 0) << uri.substr(0, 40) << ": " << BceLastOpenError();
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

// The result of `call`, which must take from `atLeast` to under `below` ms.
long timed(long atLeast, long below, const std::function<long()>& call) {
    auto start = Clock::now();
    long rc = call();
    EXPECT_GE(sinceMs(start), atLeast);
    EXPECT_LT(sinceMs(start), below);
    return rc;
}

// The result of an asynchronous request, to wait for.
std::future<long> sendAsync(unsigned short handle, unsigned short code) {
    auto* result = new std::promise<long>;
    std::future<long> future = result->get_future();
    auto done = [](void* self, long rc, const void*, unsigned long) {
        auto* p = static_cast<std::promise<long>*>(self);
        p->set_value(rc);
        delete p;
    };
    if (long rc = BceSendBidiAsync(0, handle, 0, code, nullptr, 0, 2048, done, result); rc != 0) done(result, rc, nullptr, 0);
    return future;
}

// Interrupts the thread that makes it with a signal every few ms while it lives: waits interrupted carry on.
struct Interrupter {
    std::atomic<bool> stop{false};
    std::thread signaller{[this, thread = ::pthread_self()] {
        struct sigaction ignore{};
        ignore.sa_handler = [](int) {};
        ::sigaction(SIGUSR1, &ignore, nullptr);
        for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(3))) ::pthread_kill(thread, SIGUSR1);
    }};
    ~Interrupter() {
        stop = true;
        signaller.join();
    }
};

// A completion that holds the I/O thread: it tells `holding` and waits for `released` (10 s at most).
struct Hold {
    std::binary_semaphore holding{0}, released{0};
    static void completion(void* self, long, const void*, unsigned long) {
        static_cast<Hold*>(self)->holding.release();
        static_cast<Hold*>(self)->released.try_acquire_for(std::chrono::seconds(10));
    }
};

}  // namespace

// Printers selected by index or name, alerts pushed to every client of their printer
// only, time-outs from the URI or the environment, malformed URIs, reply-buffer rules.
TEST(SimDaemon, SelectsPrintersPushesTheirAlertsAndRefusesMalformedUris) {
    kvtest::TempDir dir;
    std::ofstream(dir.file("own.json")) << R"({"name": "own"})";
    SimDaemon daemon(KVPRTSIMD, {"--copies", "3", "--silent", "1", "--faulty", "1", "--profile-for", "0:" + dir.file("own.json")});
    Opened first(daemon.uri("1")), byIndex(daemon.uri("1")), byName(daemon.uri("simlaser-2")), own(daemon.uri("own-0"));
    ByteVec healthy, faulty;   // paper jams: none on a healthy copy, one on the faulty last
    ASSERT_EQ(send(first.handle, 0x06, {}, &healthy), 0);
    ASSERT_EQ(send(byName.handle, 0x06, {}, &faulty), 0);
    EXPECT_EQ(healthy, kvtest::hex("06 00"));
    EXPECT_EQ(faulty, kvtest::hex("06 01 01 FF 01 02 00 02"));
    Opened silent(daemon.uri("", "timeout=200"));
    ::setenv("KVPRTOBJ_TCP_TIMEOUT_MS", "100", 1);   // the time-out of a URI that names none
    Opened silentByEnv(daemon.uri(""));
    ::unsetenv("KVPRTOBJ_TCP_TIMEOUT_MS");
    EXPECT_EQ(timed(190, 1000, [&] { return send(silent.handle, 0x0C); }), BCE_E_TIMEOUT);
    EXPECT_EQ(timed(90, 1000, [&] { return send(silentByEnv.handle, 0x0C); }), BCE_E_TIMEOUT);
    // A batch waiter reads for itself and gets the URI's time-out, not the default's 5 s,
    // even while a completion holds the I/O thread (which then neither reads nor times out).
    auto batchOn = [](unsigned short handle) {
        KVPrtObj obj(handle, KVPrtObj::PRINTER_TYPE_0, 0);
        obj.setBidi(1);
        KVPrtObj::PRINTERSTATUS status{};
        KVPrtObjBatch batch(obj);
        batch.add([&](KVPrtObj& p) { return p.bidiQueryDeviceStatus(&status); });
        batch.run();
        return batch.result(0);
    };
    Hold hold;
    ASSERT_EQ(BceSendBidiAsync(0, byName.handle, 0, 0x0C, nullptr, 0, 64, &Hold::completion, &hold), 0);
    hold.holding.acquire();
    EXPECT_EQ(timed(190, 3000, [&] { return batchOn(silent.handle); }), BCE_E_TIMEOUT);
    EXPECT_EQ(timed(0, 3000, [&] { return batchOn(first.handle); }), 0);
    hold.released.release();
    std::clock_t cpu = std::clock();   // no timer keeps firing for open links past their connection's deadline
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);

    ASSERT_EQ(send(byIndex.handle, 0x0C), 0);   // idle after a request of its own: its alert comes all the same
    ASSERT_EQ(send(first.handle, 0x4F, kvtest::hex("07 54 41 42")), 0);
    for (unsigned short h : {first.handle, byIndex.handle})
        EXPECT_EQ(kvtest::drainAlerts(h), std::vector<ByteVec>{kvtest::hex("03 40 09 07 54 41 42")});
    unsigned short id = 0;
    unsigned long family = 0;
    EXPECT_EQ(BceWaitAlert(byName.handle, 100, &id, &family), BCE_E_NO_ALERT);   // another printer

    using namespace std::string_literals;
    for (const std::string& uri : {daemon.uri("3"), "tcp://127.0.0.1"s, "tcp://127.0.0.1:99999"s, "tcp://:80"s,
                                   "tcp://127.0.0.1:80?timeout=0"s, "tcp://127.0.0.1:80?colour=red"s, "ftp://127.0.0.1:80"s,
                                   ""s, "tcp://127.0.0.1:80/"s + std::string(65536, 'p'), daemon.uri("nosuch")}) {
        EXPECT_EQ(BceOpenPrinter(uri.c_str(), &id), BCE_E_BAD_URI) << uri.substr(0, 40);
        EXPECT_STRNE(BceLastOpenError(), "") << uri.substr(0, 40);
    }
    EXPECT_NE(std::string(BceLastOpenError()).find("nosuch"), std::string::npos);   // the unknown printer, named

    uint8_t small[4];
    unsigned long length = sizeof small;
    EXPECT_EQ(BceSendBidi(0, first.handle, 0, 0x10, small, &length, nullptr, 0), BCE_E_NO_MEMORY);
    EXPECT_GT(length, sizeof small);   // the length the reply needs
    length = 0;                        // no reply wanted
    EXPECT_EQ(BceSendBidi(0, first.handle, 0, 0x36, small, &length, nullptr, 0), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(send(first.handle, 0x99), BCE_E_INVALID);   // a request code the printer does not know

    // The first reply may come while the I/O thread still hands on the
    // greeting: the caller waits for the hand-over, not to its time-out.
    for (int i = 0; i < 300; ++i) {
        Opened p(daemon.uri("1", "timeout=2000"));
        ASSERT_EQ(timed(0, 1000, [&] { return send(p.handle, 0x0C); }), 0) << "open " << i;
    }
}

// Callers read a link of a time-out of 80 ms and up with blocking receives, a shorter one by polling:
// either way they get their replies, and a request the printer never answers ends at its deadline.
TEST(SimDaemon, RepliesAndDeadlinesEitherSideOfBlockingReceives) {
    SimDaemon daemon(KVPRTSIMD, {"--copies", "2", "--silent", "1"});
    for (long timeout : {79, 80}) {
        const std::string query = "timeout=" + std::to_string(timeout);
        Opened silent(daemon.uri("0", query)), answering(daemon.uri("1", query));
        EXPECT_EQ(timed(timeout - 10, timeout + 1000, [&] { return send(silent.handle, 0x0C); }), BCE_E_TIMEOUT);
        long rc = -1;
        for (int attempt = 0; attempt < 10 && rc != 0; ++attempt) rc = send(answering.handle, 0x0C);   // (slow builds)
        EXPECT_EQ(rc, 0) << timeout;
    }
}

// Completions and alert callbacks run on the I/O thread, where synchronous calls are refused;
// a stopped daemon fails requests until it is back; a printer opened meanwhile connects then.
TEST(SimDaemon, CallbacksRefuseSynchronousCallsAndAStoppedDaemonFailsRequestsUntilBack) {
    SimDaemon daemon(KVPRTSIMD, {});
    Opened p(daemon.uri());
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

    EXPECT_EQ(daemon.stop(), 0);   // SIGTERM ends it cleanly while a client is connected
    long rc = send(p.handle, 0x0C);
    EXPECT_TRUE(rc == BCE_E_CHANNEL_DOWN || rc == BCE_E_CONNECTION_RESET) << rc;
    EXPECT_EQ(send(p.handle, 0x0C), BCE_E_CHANNEL_DOWN);   // nobody listens now
    Opened later(seen.uri);
    EXPECT_EQ(send(later.handle, 0x0C), BCE_E_CHANNEL_DOWN);
    char why[8];   // the system's words, cut to the buffer
    EXPECT_EQ(BceLastFailure(later.handle, why, sizeof why), std::string("connection refused").size());
    EXPECT_STREQ(why, "connect");
    daemon.restart();
    EXPECT_EQ(send(later.handle, 0x0C), 0);
    EXPECT_EQ(BceLastFailure(later.handle, why, sizeof why), 0u);   // cleared once connected
    EXPECT_EQ(BceLastFailure(0, nullptr, 0), 0u);
}

// 92 of 1,100 healthy printers read "cannot be reached" under a low descriptor limit:
// a connection the process has no descriptor for is said as such, and made once it has.
TEST(SimDaemon, NoDescriptorForAConnectionIsSaidAsSuchAndPassesOnceFreed) {
    if (!kvtest::NoFreeDescriptors::kPossible) GTEST_SKIP() << "this build's sanitizer needs descriptors";
    SimDaemon daemon(KVPRTSIMD, {});
    Opened connected(daemon.uri());
    ASSERT_EQ(send(connected.handle, 0x0C), 0);
    kvtest::NoFreeDescriptors descriptors;
    ASSERT_TRUE(descriptors.full());
    Opened starved(daemon.uri());   // opened all the same, as a printer out of reach is
    long rc = send(starved.handle, 0x0C), asynchronous = sendAsync(starved.handle, 0x0C).get();
    long kept = send(connected.handle, 0x0C);   // a connection made before still serves
    descriptors.release();
    EXPECT_EQ(rc, BCE_E_NO_RESOURCES);
    EXPECT_EQ(asynchronous, BCE_E_NO_RESOURCES);
    EXPECT_EQ(kept, 0);
    EXPECT_EQ(std::string(BceResultText(BCE_E_NO_RESOURCES)).rfind("too many open files", 0), 0u);
    EXPECT_EQ(send(starved.handle, 0x0C), 0);
}

TEST(SimDaemon, GarbageFailsOneRequestAndTheNextReconnects) {
    SimDaemon daemon(KVPRTSIMD, {"--garbage-every", "2"});
    Opened p(daemon.uri());
    for (long expected : {0l, long{BCE_E_BAD_REPLY}, 0l, long{BCE_E_BAD_REPLY}}) EXPECT_EQ(send(p.handle, 0x0C), expected);
}

TEST(SimDaemon, RequestsInFlightFailWhenTheDaemonDiesOrTheirPrinterClosesAndTheNextReconnects) {
    SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "2000", "--workers", "8"});
    Opened p(daemon.uri()), closing(daemon.uri());
    std::vector<std::future<long>> waiting;
    for (int i = 0; i < 3; ++i) waiting.push_back(std::async(std::launch::async, [&] { return send(p.handle, 0x0C); }));
    for (int i = 0; i < 5; ++i) waiting.push_back(sendAsync(p.handle, 0x0C));
    std::future<long> closed = sendAsync(closing.handle, 0x0C);
    BceClosePrinter(closing.handle);
    closing.rc = -1;
    EXPECT_EQ(closed.get(), BCE_E_BAD_HANDLE);   // finished by the close
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // every request is out
    timed(0, 1000, [&] {   // at once, not at the reply or the time-out
        daemon.kill();
        for (auto& w : waiting) EXPECT_EQ(w.get(), BCE_E_CONNECTION_RESET);
        return 0l;
    });
    daemon.restart();
    EXPECT_EQ(send(p.handle, 0x0C), 0);
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
    for (uint16_t i = 0; i < std::size(rows); ++i) {
        uint8_t buffer[2048];
        unsigned long length = sizeof buffer;
        if (rows[i].type == kvwire::kQueryAlert) {
            EXPECT_EQ(BceQueryAlerts(0, i, p.handle, 2, buffer, &length), rows[i].rc) << rows[i].what;
            continue;
        }
        EXPECT_EQ(BceSendBidi(0, p.handle, 0, i, buffer, &length, nullptr, 0), rows[i].rc) << rows[i].what;
        EXPECT_EQ(sendAsync(p.handle, i).get(), rows[i].rc) << rows[i].what << ", asynchronous";
    }
}

// A peer that closes or resets the connection wherever it stops, before its
// greeting's answer or within a reply (in its header or its payload), is a
// reset for every kind of call: never a bad reply.
TEST(RogueServer, APeerThatHangsUpIsAResetWhereverItStops) {
    enum class Call { Waiting, Polling, Asynchronous, Batch };
    struct Row {
        const char* what;
        bool inGreeting;   // else in the reply to the first request
        size_t sent;       // bytes of that answer written before hanging up
        bool reset;        // an RST rather than a FIN
    } rows[] = {
        {"before the greeting's answer", true, 0, false},
        {"in the greeting's header", true, 5, false},
        {"after the greeting's header", true, kvwire::kHeaderSize, false},
        {"in the greeting's payload", true, kvwire::kHeaderSize + 2, false},
        {"reset in the greeting's header", true, 5, true},
        {"after the greeting, before a reply", false, 0, false},
        {"in a reply's header", false, 5, false},
        {"after a reply's header", false, kvwire::kHeaderSize, false},
        {"in a reply's payload", false, kvwire::kHeaderSize + 3, false},
        {"reset in a reply's payload", false, kvwire::kHeaderSize + 3, true},
        {"reset before a reply", false, 0, true},
    };
    auto batch = [](unsigned short handle) {
        struct Context {
            unsigned short handle;
            long rc = 1;
        } context{handle};
        BceRunAsync(handle, [](void* c) {
            auto done = [](void* c2, long rc, const void*, unsigned long) { static_cast<Context*>(c2)->rc = rc; };
            auto* x = static_cast<Context*>(c);
            if (long rc = BceSendBidiAsync(0, x->handle, 0, 0x0C, nullptr, 0, 64, done, x); rc != 0) x->rc = rc;
        }, &context);
        return context.rc;
    };
    for (const Row& row : rows) {
        TestServer peer([&](int fd) {
            kvwire::FrameReader frames(fd);
            for (kvwire::Frame f; frames.read(&f) == kvwire::Io::Ok;) {
                kvwire::Bytes answer = f.type == kvwire::kHello ? kvwire::encode(kvwire::HelloReply{0, "rogue"})
                                                                 : kvwire::encode(kvwire::DataReply{0, 3, {1, 2, 3}});
                kvwire::Bytes out = kvwire::encodeFrame({static_cast<uint8_t>(f.type | kvwire::kReplyBit), f.id, answer});
                if ((f.type == kvwire::kHello) != row.inGreeting) {
                    kvwire::writeAll(fd, out.data(), out.size());
                    continue;
                }
                kvwire::writeAll(fd, out.data(), row.sent);
                if (row.reset) {
                    linger now{1, 0};
                    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
                }
                return;
            }
        });
        for (Call call : {Call::Waiting, Call::Polling, Call::Asynchronous, Call::Batch}) {
            Opened p(peer.uri(call == Call::Polling ? "timeout=79" : "timeout=2000"));
            long rc = call == Call::Asynchronous ? sendAsync(p.handle, 0x0C).get()
                      : call == Call::Batch      ? batch(p.handle)
                                                 : send(p.handle, 0x0C);
            EXPECT_EQ(rc, BCE_E_CONNECTION_RESET) << row.what << ", call " << static_cast<int>(call);
        }
    }
}

TEST(RogueServer, AGreetingNeverAnsweredCostsOneTimeOut) {
    TestServer silent([](int fd) {
        kvwire::Frame f;
        while (kvwire::readFrame(fd, &f) == kvwire::Io::Ok) {   // until the client gives up
        }
    });
    Interrupter signals;
    std::unique_ptr<Opened> p;
    EXPECT_EQ(timed(290, 500, [&] {
                  p = std::make_unique<Opened>(silent.uri("timeout=300"));   // opened: the server may come round
                  return send(p->handle, 0x0C);                              // at once: the attempt just timed out
              }),
              BCE_E_TIMEOUT);
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(timed(290, 500, [&] { return send(p->handle, 0x0C); }), BCE_E_TIMEOUT);   // tried again, waited once
}

// Time-outs that meet the I/O thread's timer: each call is finished by
// whichever thread comes first while its caller, woken or timed out, goes on
// at once to the next call on the same stack. Under the sanitizers and load
// this found a semaphore posted after its caller had gone.
TEST(RogueServer, TimeOutsMeetingTheIoThreadsTimerLeaveEveryCallerWhole) {
    TestServer mute([](int fd) {   // greets, and never replies
        kvwire::FrameReader frames(fd);
        for (kvwire::Frame f; frames.read(&f) == kvwire::Io::Ok;)
            if (f.type == kvwire::kHello)
                kvwire::writeFrame(fd, {kvwire::kHello | kvwire::kReplyBit, f.id, kvwire::encode(kvwire::HelloReply{0, "mute"})});
    });
    Opened p(mute.uri("timeout=2"));
    std::atomic<int> timeOuts{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 250; ++i) timeOuts += send(p.handle, 0x0C) == BCE_E_TIMEOUT;
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(timeOuts, 1000);
}

// ---- bounds against hostile clients, with a client that speaks the frames by hand ----

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;   // the sanitizers' allocators make resident sizes meaningless
#else
constexpr bool kSanitized = false;
#endif

constexpr uint32_t kBigData = 1000 * 1024;   // the data of a request near the largest frame

class RawClient {
public:
    explicit RawClient(uint16_t port) : m_fd(kvwire::connectTcp("127.0.0.1", std::to_string(port), 2000, &m_connect)) {}
    RawClient(RawClient&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    ~RawClient() { if (m_fd >= 0) ::close(m_fd); }

    bool write(const kvwire::Bytes& bytes) {
        return m_fd >= 0 && kvwire::writeAll(m_fd, bytes.data(), bytes.size()) == kvwire::Io::Ok;
    }
    bool greet(const std::string& printer = "") {
        kvwire::Frame reply;
        kvwire::HelloReply hello;
        return write(kvwire::encodeFrame({kvwire::kHello, 1, kvwire::encode(kvwire::HelloRequest{printer})})) &&
               read(&reply) && kvwire::decode(reply.payload, &hello) && hello.rc == 0;
    }
    bool request() {   // a page-count request and its reply
        kvwire::Frame reply;
        return write(bidi(0x0C, 0)) && read(&reply) && reply.type == (kvwire::kSendBidi | kvwire::kReplyBit);
    }
    // True when the daemon closes the connection within `ms`; what it sends meanwhile is dropped.
    bool closedWithin(int ms) {
        for (auto deadline = Clock::now() + std::chrono::milliseconds(ms);;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::max(0l, -sinceMs(deadline)))) <= 0) return false;
            char buffer[4096];
            ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
        }
    }
    static kvwire::Bytes bidi(uint16_t code, uint32_t dataSize, uint32_t capacity = 64) {   // an encoded request
        return kvwire::encodeFrame({kvwire::kSendBidi, 2,
                                    kvwire::encode(kvwire::SendBidiRequest{0, 0, code, capacity, kvwire::Bytes(dataSize)})});
    }

private:
    bool read(kvwire::Frame* frame) { return kvwire::readFrame(m_fd, frame, 2000) == kvwire::Io::Ok; }

    kvwire::Connect m_connect{};
    int m_fd = -1;
};

long grownKb(const SimDaemon& d, long before) { return kSanitized ? 0 : d.status("VmRSS") - before; }   // 0 where sanitized

// User and system CPU time of a process, in clock ticks (/proc/PID/stat fields 14 and 15).
long cpuTicks(pid_t pid) {
    std::string stat = kvtest::readText("/proc/" + std::to_string(pid) + "/stat");
    long user = 0, system = 0;
    std::sscanf(stat.c_str() + stat.rfind(')') + 2, "%*s %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &user, &system);
    return user + system;
}

void limit(pid_t pid, __rlimit_resource resource, rlim_t value) {
    rlimit r{value, value};
    ASSERT_EQ(::prlimit(pid, resource, &r, nullptr), 0) << std::strerror(errno);
}

// `n` more clients of the daemon on `port`, each greeting it; how many it greeted.
size_t connect(std::vector<RawClient>& clients, uint16_t port, int n) {
    size_t greeted = 0;
    for (int i = 0; i < n; ++i) greeted += clients.emplace_back(port).greet();
    return greeted;
}

size_t countClosed(std::vector<RawClient>& clients) {
    return static_cast<size_t>(
        std::count_if(clients.begin(), clients.end(), [](RawClient& c) { return c.closedWithin(0); }));
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The threads the user `uid` runs, counted as RLIMIT_NPROC counts them.
long tasksOf(uid_t uid) {
    long tasks = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc"))
        if (kvtest::procStatus(entry.path(), "Uid") == static_cast<long>(uid))
            tasks += std::max(0l, kvtest::procStatus(entry.path(), "Threads"));
    return tasks;
}

// Root ignores RLIMIT_NPROC and may not lower another user's limits here: the daemon runs as
// nobody through setpriv and prlimit (when there, and when nobody may run it where it was
// built), allowed its user's threads, its main and loop threads, and a sanitizer's.
SimDaemon::Launch withoutThreadsToSpare() {
    passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody || ::access("/usr/bin/setpriv", X_OK) != 0 || ::access("/usr/bin/prlimit", X_OK) != 0)
        return {};
    const std::string asNobody = "/usr/bin/setpriv --reuid=" + std::to_string(nobody->pw_uid) +
                                 " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups";
    if (std::system((asNobody + " /usr/bin/test -x " KVPRTSIMD).c_str()) != 0) return {};   // a private build folder
    std::istringstream words(asNobody + " /usr/bin/prlimit --nproc=" + std::to_string(tasksOf(nobody->pw_uid) + 3));
    return {std::vector<std::string>(std::istream_iterator<std::string>(words), {})};
}

}  // namespace

// 5,000 idle sockets made a thread each; with RLIMIT_NPROC reached the 91st aborted the daemon.
TEST(SimDaemonBounds, ThousandsOfConnectionsKeepTheThreadsAndLittleMemory) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    limit(0, RLIMIT_NOFILE, files.rlim_max);   // this process's
    const size_t n = std::min<size_t>(2000, files.rlim_max - 64);
    SimDaemon::Launch launch = withoutThreadsToSpare();
    SimDaemon daemon(KVPRTSIMD, {"--copies", "4"}, launch);
    if (::geteuid() != 0) limit(daemon.pid(), RLIMIT_NPROC, 1);
    if (::geteuid() == 0 && launch.prefix.empty()) std::printf("note: RLIMIT_NPROC not tried: root ignores it\n");
    long threads = daemon.status("Threads"), resident = daemon.status("VmRSS");
    std::vector<RawClient> clients;
    for (size_t i = 0; i < n; ++i) ASSERT_TRUE(clients.emplace_back(daemon.port()).greet(std::to_string(i % 4))) << i;
    EXPECT_TRUE(clients.front().request() && clients.back().request());
    EXPECT_EQ(daemon.status("Threads"), threads);
    EXPECT_LT(grownKb(daemon, resident), static_cast<long>(n * 4)) << "kB for " << n;
}

// 300 sockets each holding most of a 1 MiB frame took 350 MB.
TEST(SimDaemonBounds, UnfinishedFramesAreBoundedOverAllConnectionsAndFreed) {
    SimDaemon daemon(KVPRTSIMD, {"--max-total-queued-bytes", std::to_string(4 << 20)});
    long resident = daemon.status("VmRSS");
    kvwire::Bytes start = RawClient::bidi(0x34, kBigData);
    start.resize(500 * 1024);   // the frame's first 500 KiB
    std::vector<RawClient> clients;
    ASSERT_EQ(connect(clients, daemon.port(), 24), 24u);
    for (RawClient& c : clients) c.write(start);
    sleepMs(500);
    size_t closed = countClosed(clients);
    EXPECT_TRUE(closed >= 12 && closed < 24) << closed;
    EXPECT_LT(grownKb(daemon, resident), 8 * 1024);
    clients.clear();
    sleepMs(300);
    EXPECT_LT(grownKb(daemon, resident), 2 * 1024);
}

// One connection pipelining 300 requests of 1 MiB to a slow daemon held 312 MB after it left.
TEST(SimDaemonBounds, QueuedRequestsAreDroppedWhenTheirClientLeaves) {
    SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "2000", "--workers", "1", "--max-queued-bytes", std::to_string(64 << 20)});
    long resident = daemon.status("VmRSS");
    std::vector<RawClient> client;
    ASSERT_EQ(connect(client, daemon.port(), 1), 1u);
    for (int i = 0; i < 24; ++i) ASSERT_TRUE(client[0].write(RawClient::bidi(0x34, kBigData)));
    sleepMs(300);
    EXPECT_TRUE(kSanitized || grownKb(daemon, resident) > 16 * 1024);   // held while it waits
    client.clear();
    sleepMs(300);
    EXPECT_LT(grownKb(daemon, resident), 4 * 1024);   // at most the worker's one
}

// With 64 descriptors and 100 pending connections the daemon spun at 96 % of a core.
TEST(SimDaemonBounds, ConnectionsBeyondTheDescriptorsAreRefusedWithoutSpinning) {
    SimDaemon daemon(KVPRTSIMD, {});
    limit(daemon.pid(), RLIMIT_NOFILE, 24);
    std::vector<RawClient> clients;
    size_t greeted = connect(clients, daemon.port(), 24);
    EXPECT_TRUE(greeted > 8 && greeted < 24) << greeted;
    EXPECT_EQ(countClosed(clients), 24 - greeted);   // refused at once, not left pending
    for (int i = 0; i < 24; ++i) clients.emplace_back(daemon.port());   // more keep coming
    long ticks = cpuTicks(daemon.pid());
    sleepMs(1000);
    EXPECT_LT(cpuTicks(daemon.pid()) - ticks, ::sysconf(_SC_CLK_TCK) / 10);
    clients.clear();
    sleepMs(200);
    RawClient late(daemon.port());
    EXPECT_TRUE(late.greet() && late.request());
}

// One connection beyond a bound is closed in its time while the others stay.
TEST(SimDaemonBounds, AConnectionBeyondABoundIsClosedAndTheOthersStay) {
    const kvwire::Bytes big = RawClient::bidi(0x34, kBigData, kvwire::kMaxPayload);
    const kvwire::Bytes unfinished(big.begin(), big.begin() + 600 * 1024);
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int others;                // greeted clients before the one closed, kept busy
        bool greets;               // the one closed, which sends `bytes` `times` over without reading
        kvwire::Bytes bytes;
        int times;
        long atLeastMs, belowMs;   // from its last word to its close
        bool nextGreets;           // a client that comes next
    } rows[] = {
        {"one beyond the maximum", {"--max-connections", "3"}, 3, false, {}, 0, 0, 200, false},
        {"no greeting", {"--max-connections", "2", "--greeting-timeout-ms", "300"}, 1, false, {}, 0, 280, 2000, true},
        {"idle", {"--max-connections", "2", "--idle-timeout-ms", "800"}, 1, true, {}, 0, 600, 2000, true},
        {"an unfinished frame", {"--max-queued-bytes", "262144"}, 1, true, unfinished, 1, 0, 2000, true},
        {"requests waiting for a worker", {"--delay-ms", "2000", "--workers", "1"}, 1, true, big, 3, 0, 2000, true},
        {"replies the client does not read", {}, 1, true, big, 24, 0, 2000, true},
    };
    for (const Row& row : rows) {
        SimDaemon daemon(KVPRTSIMD, row.args);
        std::vector<RawClient> others;
        ASSERT_EQ(connect(others, daemon.port(), row.others), static_cast<size_t>(row.others)) << row.what;
        RawClient closed(daemon.port());
        ASSERT_TRUE(!row.greets || closed.greet()) << row.what;
        for (int i = 0; i < row.times; ++i) closed.write(row.bytes);
        auto start = Clock::now();
        while (!closed.closedWithin(100) && sinceMs(start) < row.belowMs)
            for (RawClient& o : others) o.write(RawClient::bidi(0x0C, 0));   // busy, not idle
        EXPECT_GE(sinceMs(start), row.atLeastMs) << row.what;
        EXPECT_LT(sinceMs(start), row.belowMs) << row.what;
        EXPECT_EQ(countClosed(others), 0u) << row.what;
        EXPECT_EQ(RawClient(daemon.port()).greet(), row.nextGreets) << row.what;
    }
}

TEST(SimDaemonBounds, WarnsWhenListeningBeyondLoopbackAndShowsTheAddressAsTyped) {
    for (auto [host, warns] : {std::pair{"0.0.0.0", true}, std::pair{"[::1]", false}}) {
        SimDaemon::Launch launch{{}, host, ::testing::TempDir() + "kvprtsimd-stderr"};
        SimDaemon daemon(KVPRTSIMD, {}, launch);
        const std::string banner =
            "kvprtsimd listening on " + std::string(host) + ":" + std::to_string(daemon.port()) + "\n";
        EXPECT_EQ(daemon.output().rfind(banner, 0), 0u) << daemon.output();
        daemon.stop();
        std::string text = kvtest::readText(launch.stderrPath);
        EXPECT_EQ(text.find("not a loopback address: any peer") != std::string::npos, warns) << host << text;
    }
}

// ---- the engine's link against a server of the test's own, for what kvprtsimd never does ----

// A reply written in pieces (cut inside its header) with an alert behind it
// cut too, the rest read by the I/O thread once the caller has left; an alert
// pushed after its reply, which the link reads once it watches again for
// being idle; an asynchronous request never answered, made once the
// connection's own deadline has passed; and a link whose socket is
// descriptor 0 (a host that closed its standard input), with a request
// larger than its send buffer takes at once.
TEST(RogueServer, PiecewiseRepliesLateAlertsAndUnansweredRequestsKeepTheLinkInStep) {
    constexpr uint16_t kUnanswered = 0x99;
    struct Row {
        const char* what;
        std::vector<size_t> cuts;   // the peer writes a reply and its alert in pieces, pausing at these
        int timeoutMs = 2000;
        bool unanswered = false, onStdin = false;
        size_t requestSize = 0;   // bytes of request data, for the peer to find whole
    } rows[] = {
        {.what = "pieces", .cuts = {5, 32}},   // the reply (27 bytes) and the alert behind it, each cut in its header
        {.what = "unanswered", .timeoutMs = 300, .unanswered = true},
        {.what = "descriptor 0", .cuts = {27}, .onStdin = true, .requestSize = 1000 * 1000},
    };
    for (const Row& row : rows) {
        TestServer peer([&](int fd) {
            kvwire::FrameReader frames(fd);
            for (kvwire::Frame f; frames.read(&f) == kvwire::Io::Ok;) {
                kvwire::SendBidiRequest bidi;
                kvwire::Bytes answer = kvwire::encode(kvwire::HelloReply{0, "rogue"}), alert;
                if (f.type == kvwire::kSendBidi && kvwire::decode(f.payload, &bidi)) {
                    if (bidi.code == kUnanswered || bidi.data != kvwire::Bytes(row.requestSize, 0x5A)) continue;
                    answer = kvwire::encode(kvwire::DataReply{0, 3, {1, 2, 3}});
                    alert = kvwire::encodeFrame({kvwire::kAlert, 0, kvwire::encode(kvwire::AlertNotice{7, 0x5F4})});
                }
                kvwire::Bytes out = kvwire::encodeFrame({static_cast<uint8_t>(f.type | kvwire::kReplyBit), f.id, answer});
                out.insert(out.end(), alert.begin(), alert.end());
                size_t from = 0;
                for (size_t cut : alert.empty() ? std::vector<size_t>{} : row.cuts) {
                    kvwire::writeAll(fd, out.data() + from, cut - from);
                    from = cut;
                    sleepMs(20);
                }
                kvwire::writeAll(fd, out.data() + from, out.size() - from);
                if (row.requestSize) sleepMs(200);   // the request fills the socket meanwhile
            }
        });
        int savedStdin = row.onStdin ? ::dup(0) : -1;
        if (row.onStdin) ::close(0);   // the lowest free descriptor: the link's socket takes it
        Opened p(peer.uri("timeout=" + std::to_string(row.timeoutMs)));
        ASSERT_EQ(p.rc, 0) << row.what;
        if (row.onStdin) {
            sockaddr_in to{};
            socklen_t length = sizeof to;
            ASSERT_EQ(::getpeername(0, reinterpret_cast<sockaddr*>(&to), &length), 0);
            EXPECT_EQ(ntohs(to.sin_port), peer.port());
            int small = 65536;   // its request is written in turns
            ::setsockopt(0, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
            errno = 0;   // as a host may leave it: the part written is no failure
        }
        std::future<long> unanswered;
        if (row.unanswered) {
            sleepMs(row.timeoutMs + 50);   // past the connection attempt's deadline: its timer is done
            unanswered = sendAsync(p.handle, kUnanswered);
        }
        ByteVec reply;
        EXPECT_EQ(send(p.handle, 1, ByteVec(row.requestSize, 0x5A), &reply), 0) << row.what;
        EXPECT_EQ(reply, (ByteVec{1, 2, 3})) << row.what;
        if (row.unanswered) {
            ASSERT_EQ(unanswered.wait_for(std::chrono::seconds(5)), std::future_status::ready) << row.what;
            EXPECT_EQ(unanswered.get(), BCE_E_TIMEOUT);
        }
        unsigned short alertId = 0;
        unsigned long family = 0;
        EXPECT_EQ(BceWaitAlert(p.handle, 5000, &alertId, &family), 0) << row.what;
        EXPECT_EQ(std::pair(alertId, family), std::pair(uint16_t{7}, 0x5F4ul)) << row.what;
        BceClosePrinter(p.handle);
        p.rc = -1;
        if (row.onStdin) {
            ::dup2(savedStdin, 0);
            ::close(savedStdin);
        }
    }

    // Two callers' replies behind an alert, the reader's last, while a completion of another
    // link holds the I/O thread: the reader leaves them all to the I/O thread, and the other
    // caller waits for its hand-over, not in a read of its own (half the time-out).
    TestServer pairs([](int fd) {   // answers requests two at a time: an alert, the later, the earlier
        kvwire::FrameReader frames(fd);
        std::vector<kvwire::Frame> got;
        for (kvwire::Frame f; frames.read(&f) == kvwire::Io::Ok;) {
            got.insert(got.begin(), f);
            if (f.type != kvwire::kHello && got.size() < 2) continue;
            kvwire::Bytes out = kvwire::encodeFrame({kvwire::kAlert, 0, kvwire::encode(kvwire::AlertNotice{7, 0x5F4})});
            if (f.type == kvwire::kHello) out.clear();
            for (const kvwire::Frame& r : got) {
                kvwire::Bytes answer = r.type == kvwire::kHello ? kvwire::encode(kvwire::HelloReply{0, "rogue"})
                                                                : kvwire::encode(kvwire::DataReply{0, 3, {1, 2, 3}});
                kvwire::Bytes reply = kvwire::encodeFrame({static_cast<uint8_t>(r.type | kvwire::kReplyBit), r.id, answer});
                out.insert(out.end(), reply.begin(), reply.end());
            }
            kvwire::writeAll(fd, out.data(), out.size());
            got.clear();
        }
    });
    Opened busy(pairs.uri("timeout=6000")), shared(pairs.uri("timeout=6000"));
    Hold hold;
    ASSERT_EQ(BceSendBidiAsync(0, busy.handle, 0, 1, nullptr, 0, 64, &Hold::completion, &hold), 0);
    sendAsync(busy.handle, 1);
    hold.holding.acquire();
    std::thread releaser([&] { sleepMs(500); hold.released.release(); });
    auto other = std::async(std::launch::async, [&] { return timed(0, 2000, [&] { return send(shared.handle, 1); }); });
    EXPECT_EQ(timed(0, 2000, [&] { return send(shared.handle, 1); }), 0);
    EXPECT_EQ(other.get(), 0);
    releaser.join();
}

// A connection the server never takes (its queue is full) times out while
// dialling: requests fail at once for a time-out after, not each after another.
TEST(RogueServer, ADialNeverAnsweredCostsOneTimeOut) {
    uint16_t port = 0;
    std::string error;
    int listener = kvwire::listenTcp("127.0.0.1", "0", &port, &error, 0);
    kvwire::Connect result;
    int filler = kvwire::connectTcp("127.0.0.1", std::to_string(port), 2000, &result);   // the queue's one place
    ASSERT_TRUE(listener >= 0 && filler >= 0) << error;
    Interrupter signals;
    Opened p("tcp://127.0.0.1:" + std::to_string(port) + "?timeout=500");
    ASSERT_EQ(p.rc, 0);
    sleepMs(30);
    EXPECT_EQ(timed(0, 250, [&] { return send(p.handle, 0x0C); }), BCE_E_TIMEOUT);
    // A connect of the test's own waits its time-out, interrupted or not.
    EXPECT_EQ(timed(250, 2000, [&] { return kvwire::connectTcp("127.0.0.1", std::to_string(port), 300, &result); }), -1);
    ::close(filler);
    ::close(listener);
}

// PJL on the daemon's print port, answered from printer 0's state (a DEFAULT is announced to
// the engine protocol's clients as a 0x4F is), and each fault as a host's bounded reader meets it.
TEST(SimDaemonPjl, AnswersFromThePrintersStateAndEachFaultIsWhatAHostsReaderMeets) {
    namespace pjl = kvnet::pjl;
    using namespace std::string_literals;
    const std::string uel(pjl::kUel);
    const std::string job = "printed?" + uel + "@PJL INFO PAGECOUNT\r\n@PJL DEFAULT COPIES=3\r\n@PJL DINQUIRE COPIES\r\n"
                            "@PJL FSQUERY NAME=\"1:\\forms\"\r\n@PJL ECHO end\r\n" + uel;
    struct Row {
        const char* fault;
        std::string expected;   // the replies' first lines, or how the reader ends
    } rows[] = {
        {nullptr, "@PJL INFO PAGECOUNT|@PJL DINQUIRE COPIES|@PJL FSQUERY NAME=\"1:\\forms\" TYPE=DIR|@PJL ECHO end|"},
        {"silent", "no reply"},
        {"endless", "too long"},
        {"not-pjl", "not PJL"},
        {"one-connection", "@PJL INFO PAGECOUNT|@PJL DINQUIRE COPIES|@PJL FSQUERY NAME=\"1:\\forms\" TYPE=DIR|@PJL ECHO end|"},
    };
    for (const Row& row : rows) {
        const std::string port = std::to_string(kvtest::freePort());
        std::vector<std::string> args = {"--pjl-listen", "127.0.0.1:" + port};
        if (row.fault) args.insert(args.end(), {"--pjl-fault", row.fault});
        SimDaemon daemon(KVPRTSIMD, args);
        Opened engine(daemon.uri());
        kvwire::Connect how{};
        int fd = kvwire::connectTcp("127.0.0.1", port, 2000, &how);
        ASSERT_GE(fd, 0) << row.fault;
        int second = kvwire::connectTcp("127.0.0.1", port, 2000, &how);
        char byte;
        pollfd p{second, POLLIN, 0};   // a second host: closed at once with one-connection, else kept
        EXPECT_EQ(::poll(&p, 1, 300) == 1 && ::recv(second, &byte, 1, 0) == 0, row.fault && row.fault == "one-connection"s);
        ::close(second);
        ASSERT_EQ(kvwire::writeAll(fd, job.data(), job.size()), kvwire::Io::Ok);
        using Status = pjl::ReplyReader::Status;
        pjl::ReplyReader reader;
        std::string got, reply;
        for (auto status = Status::More; status == Status::More && got.find("ECHO end") == std::string::npos;) {
            char buffer[4096];
            pollfd in{fd, POLLIN, 0};
            ssize_t n = ::poll(&in, 1, 1000) == 1 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
            if (n <= 0) break;
            reader.feed(std::string_view(buffer, static_cast<size_t>(n)));
            while ((status = reader.next(&reply)) == Status::Reply) got += reply.substr(0, reply.find('\r')) + "|";
            if (status != Status::More) got = status == Status::TooLong ? "too long" : "not PJL";
        }
        ::close(fd);
        EXPECT_EQ(got.empty() ? "no reply" : got, row.expected) << (row.fault ? row.fault : "none");
        if (!row.fault || row.fault == "one-connection"s) {
            EXPECT_EQ(kvtest::drainAlerts(engine.handle), std::vector<ByteVec>{kvtest::hex("03 40 09 01 01 00 03")});
        }
    }
}
