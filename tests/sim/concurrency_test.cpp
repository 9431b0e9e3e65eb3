// Many threads on one printer connection, many requests in flight, many printers
// at once: every reply reaches its own request and every alert its own printer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <latch>
#include <list>
#include <optional>
#include <set>
#include <thread>

#include "full_poll.h"
#include "scripted_printer.h"
#include "sim_daemon.h"

using kvtest::ByteVec;

namespace {

unsigned short open(const std::string& uri) {
    unsigned short handle = 0;
    EXPECT_EQ(BceOpenPrinter(uri.c_str(), &handle), 0) << BceLastOpenError();
    return handle;
}

// Runs body(0) .. body(n - 1) on n threads and waits for them.
void onThreads(int n, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) threads.emplace_back(body, t);
    for (auto& th : threads) th.join();
}

// A loop-back request of thread `t`, round `i`; its result, or 1 when the echo is not the caller's own.
long loopBack(unsigned short handle, unsigned t, uint32_t i) {
    ByteVec request = kvtest::Bytes().u8(t).be32(i).vec();
    uint8_t reply[64];
    unsigned long length = sizeof reply;
    long rc = BceSendBidi(0, handle, 0, 0x34, reply, &length, request.data(), request.size());
    return rc == 0 && ByteVec(reply + 1, reply + length) != request ? 1 : rc;
}

// Eight threads set and read back variables of their own (01 01 .. 01 08) on one
// handle, in process and over TCP; the variable events of all their writes arrive, each once.
TEST(SharedConnection, EightThreadsGetTheirOwnRepliesAndEveryAlertArrives) {
    std::multiset<ByteVec> expected;
    for (uint8_t t = 0; t < 8; ++t)
        for (uint8_t i = 0; i < 60; ++i) expected.insert({0x03, 0x40, 0x09, 0x01, static_cast<uint8_t>(0x01 + t), t, i});
    for (bool tcp : {false, true}) {
        std::optional<kvtest::SimDaemon> daemon;
        if (tcp) daemon.emplace(KVPRTSIMD, std::vector<std::string>{"--workers", "4"});
        unsigned short handle = open(daemon ? daemon->uri() : "sim:");
        KVPrtObj obj(handle, 1);
        std::atomic<int> mismatches{0};
        onThreads(8, [&](int t) {
            ByteVec id = {0x01, static_cast<uint8_t>(0x01 + t)};
            for (uint8_t i = 0; i < 60; ++i) {
                uint8_t value[2] = {static_cast<uint8_t>(t), i};
                mismatches += obj.bidiSetOMVar(id.data(), value, 2) != 0 ||
                              kvtest::readVariable(obj, id) != ByteVec{id[0], id[1], value[0], value[1]};
            }
        });
        EXPECT_EQ(mismatches, 0) << "tcp " << tcp;
        std::vector<ByteVec> events = kvtest::drainAlerts(handle);
        EXPECT_EQ(std::multiset(events.begin(), events.end()), expected) << "tcp " << tcp;
        BceClosePrinter(handle);
    }
}

// A hundred printers of one daemon, each polled by its own thread, keep their
// own tags and see their own variable events only. Then the full polls of twenty
// are in flight together from one thread: each decodes what the synchronous calls do.
TEST(ManyPrinters, HundredThreadsThenTwentyFullPollsInFlightFromOneThread) {
    constexpr int kPrinters = 100, kPolled = 20;
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--copies", std::to_string(kPrinters)});
    std::vector<unsigned short> handles;
    for (int i = 0; i < kPrinters; ++i) handles.push_back(open(daemon.uri(std::to_string(i))));
    auto tag = [](int i) { return "PRINTER-" + std::to_string(i); };
    std::atomic<int> failures{0};
    onThreads(kPrinters, [&](int i) {
        KVPrtObj obj(handles[static_cast<size_t>(i)], 1);
        ByteVec id = {0x07, 0x54};
        failures += obj.bidiSetOMVar(id.data(), tag(i).data(), tag(i).size()) != 0;
        for (int round = 0; round < 10; ++round) {
            KVPrtObj::PAGECOUNTDATA counts;
            failures += obj.bidiGetPageCounts(&counts) != 0 || counts.dwPageCountType1 == 0 ||
                        kvtest::readVariable(obj, id) != kvtest::Bytes().raw(id).text(tag(i)).vec();
        }
    });
    EXPECT_EQ(failures, 0);
    for (int i = 0; i < kPrinters; ++i) {
        EXPECT_EQ(kvtest::drainAlerts(handles[static_cast<size_t>(i)]),
                  (std::vector<ByteVec>{kvtest::Bytes{0x03, 0x40, 0x09, 0x07, 0x54}.text(tag(i)).vec()})) << i;
        if (i >= kPolled) BceClosePrinter(handles[static_cast<size_t>(i)]);
    }

    struct Printer {
        KVPrtObj object;
        KVPrtObjBatch batch{object};
        kvtest::FullPoll batched, inTurn;
        explicit Printer(unsigned short handle) : object(handle, 1) {}
    };
    std::list<Printer> printers(handles.begin(), handles.begin() + kPolled);
    std::latch unfinished(kPolled);
    for (Printer& p : printers) p.batched.addTo(p.batch);
    for (Printer& p : printers) p.batch.start([&] { unfinished.count_down(); });
    unfinished.wait();
    for (Printer& p : printers) {
        p.batched.takeResults(p.batch);
        p.inTurn.runInTurn(p.object);
        EXPECT_TRUE(p.batched.sameAs(p.inTurn));
        EXPECT_EQ(p.batched.results, decltype(p.batched.results){});   // all 0
        EXPECT_GT(p.inTurn.toner.numSupplies(), 0u);
    }
    printers.clear();
    for (size_t i = 0; i < kPolled; ++i) BceClosePrinter(handles[i]);
}

// Eight threads and this one's asynchronous requests share one connection to a daemon
// answering each after 50 ms in any order: pipelined, nobody waits for another's reply, and
// every reply reaches its caller, also across restarts (where a request may fail as down).
TEST(SharedConnection, PipelinedRepliesReachTheirCallersOutOfOrderAndAcrossRestarts) {
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "50", "--workers", "8"});
    unsigned short handle = open(daemon.uri("", "timeout=2000"));
    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    auto start = std::chrono::steady_clock::now();
    std::thread callers([&] {
        onThreads(kThreads, [&](int t) {
            for (uint32_t i = 0; i < 4; ++i) wrong += loopBack(handle, static_cast<unsigned>(t), i) != 0;
        });
    });
    struct Async { ByteVec request; std::promise<ByteVec> reply; } asyncs[16];
    auto done = [](void* self, long rc, const void* data, unsigned long length) {
        auto* bytes = static_cast<const uint8_t*>(data);
        static_cast<Async*>(self)->reply.set_value(rc == 0 && length ? ByteVec(bytes + 1, bytes + length) : ByteVec{});
    };
    for (uint32_t i = 0; i < std::size(asyncs); ++i) {
        ByteVec& r = asyncs[i].request = kvtest::Bytes().u8(0xA0).be32(i).vec();
        ASSERT_EQ(BceSendBidiAsync(0, handle, 0, 0x34, r.data(), r.size(), 64, done, &asyncs[i]), 0);
    }
    for (auto& a : asyncs) EXPECT_EQ(a.reply.get_future().get(), a.request);
    callers.join();
    EXPECT_EQ(wrong, 0);
    // In turn, the 32 requests would take 1.6 s; pipelined, about 4 x 50 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));

    std::atomic<bool> stop{false}, lastRestartDone{false};
    std::vector<int> answered(kThreads, 0);   // after the last restart
    callers = std::thread([&] {
        onThreads(kThreads, [&](int t) {
            for (uint32_t i = 0; !stop; ++i) {
                long rc = loopBack(handle, static_cast<unsigned>(t), i);
                if (rc == 0 && lastRestartDone) ++answered[static_cast<size_t>(t)];
                if (rc != 0 && rc != BCE_E_CHANNEL_DOWN && rc != BCE_E_CONNECTION_RESET && rc != BCE_E_TIMEOUT) ++wrong;
            }
        });
    });
    for (int restart = 0; restart < 3; ++restart) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        daemon.restart();
    }
    lastRestartDone = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    callers.join();
    EXPECT_EQ(wrong, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_GT(answered[static_cast<size_t>(t)], 0) << t;
    BceClosePrinter(handle);
}

// Threads waiting in KVPrtObjBatch::run read their replies themselves beside synchronous
// callers on one connection, with replies in order (coalesced) and out of order (delayed).
TEST(SharedConnection, BatchWaitersGetTheirOwnRepliesBesideSynchronousCallers) {
    for (const char* delay : {"0", "1"}) {
        kvtest::SimDaemon daemon(KVPRTSIMD, {"--delay-ms", delay, "--workers", "4"});
        unsigned short handle = open(daemon.uri());
        KVPrtObj reference(handle, 1);
        kvtest::FullPoll expected;
        expected.runInTurn(reference);
        ASSERT_EQ(expected.results, decltype(expected.results){});
        std::atomic<int> wrong{0};
        onThreads(4, [&](int t) {
            KVPrtObj obj(handle, 1);
            for (int round = 0; round < 25; ++round) {
                kvtest::FullPoll poll;
                if (t % 2) {   // a synchronous caller
                    wrong += poll.run(obj, 0) != 0 || std::memcmp(&poll.status, &expected.status, sizeof poll.status);
                    continue;
                }
                KVPrtObjBatch batch(obj);
                poll.addTo(batch);
                batch.run();
                poll.takeResults(batch);
                wrong += !poll.sameAs(expected);
            }
        });
        EXPECT_EQ(wrong, 0) << "delay " << delay;
        BceClosePrinter(handle);
    }
}

}  // namespace
