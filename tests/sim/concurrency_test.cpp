// Many threads on one printer connection, many requests in flight from one
// thread, and many printers through one daemon at once: every reply reaches
// its own request and every alert its own printer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "full_poll.h"
#include "scripted_printer.h"
#include "sim_daemon.h"

using kvtest::ByteVec;

namespace {

// Takes every alert announced on `handle` and reads its data. A printer
// announces an alert before it replies to the request that raised it, so
// once the requests are answered their alerts are all there.
std::vector<ByteVec> drainAlerts(unsigned short handle, unsigned long family) {
    std::vector<ByteVec> alerts;
    unsigned short id;
    unsigned long got;
    while (BceWaitAlert(handle, alerts.empty() ? 2000 : 0, &id, &got) == 0) {
        EXPECT_EQ(got, family);
        uint8_t data[2048];
        unsigned long length = sizeof data;
        EXPECT_EQ(BceQueryAlerts(0, id, handle, 2, data, &length), 0);
        alerts.emplace_back(data, data + length);
    }
    return alerts;
}

class SharedConnection : public testing::TestWithParam<bool> {};

// Eight threads set and read back variables of their own on one handle; the
// variable events of all their writes arrive, each once.
TEST_P(SharedConnection, EightThreadsGetTheirOwnRepliesAndEveryAlertArrives) {
    std::unique_ptr<kvtest::SimDaemon> daemon;
    std::string uri = "sim:";
    if (GetParam()) {
        daemon = std::make_unique<kvtest::SimDaemon>(KVPRTSIMD, std::vector<std::string>{"--workers", "4"});
        uri = daemon->uri();
    }
    unsigned short handle;
    ASSERT_EQ(BceOpenPrinter(uri.c_str(), &handle), 0) << BceLastOpenError();
    KVPrtObj obj(handle, 1);

    constexpr int kThreads = 8, kRounds = 60;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ByteVec id = {0x01, static_cast<uint8_t>(0x01 + t)};   // variables 01 01 .. 01 08
            for (int i = 0; i < kRounds; ++i) {
                uint8_t value[2] = {static_cast<uint8_t>(t), static_cast<uint8_t>(i)};
                if (obj.bidiSetOMVar(id.data(), value, 2) != 0) ++mismatches;
                if (kvtest::readVariable(obj, id) != ByteVec{id[0], id[1], value[0], value[1]}) ++mismatches;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, 0);

    std::vector<ByteVec> events = drainAlerts(handle, 0x5FE), expected;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kRounds; ++i)
            expected.push_back({0x03, 0x40, 0x09, 0x01, static_cast<uint8_t>(0x01 + t), static_cast<uint8_t>(t),
                                static_cast<uint8_t>(i)});
    EXPECT_EQ(std::set(events.begin(), events.end()), std::set(expected.begin(), expected.end()));
    EXPECT_EQ(events.size(), expected.size());   // each once
    BceClosePrinter(handle);
}

INSTANTIATE_TEST_SUITE_P(Transports, SharedConnection, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "tcp" : "sim"; });

// A hundred printers of one daemon polled at once, each by its own thread:
// each keeps its own tag, and each sees its own variable event only. Then one
// thread keeps the full polls of twenty of them in flight together (two
// hundred requests, through KVPrtObjBatch): each decodes what the synchronous
// calls decode.
TEST(ManyPrinters, HundredThreadsThenTwentyFullPollsInFlightFromOneThread) {
    constexpr int kPrinters = 100;
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--copies", std::to_string(kPrinters)});
    std::vector<unsigned short> handles(kPrinters);
    for (int i = 0; i < kPrinters; ++i)
        ASSERT_EQ(BceOpenPrinter(daemon.uri(std::to_string(i)).c_str(), &handles[static_cast<size_t>(i)]), 0);

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kPrinters; ++i)
        threads.emplace_back([&, i] {
            KVPrtObj obj(handles[static_cast<size_t>(i)], 1);
            ByteVec id = {0x07, 0x54};
            std::string tag = "PRINTER-" + std::to_string(i);
            if (obj.bidiSetOMVar(id.data(), tag.data(), tag.size()) != 0) ++failures;
            for (int round = 0; round < 10; ++round) {
                KVPrtObj::PAGECOUNTDATA counts;
                if (obj.bidiGetPageCounts(&counts) != 0 || counts.dwPageCountType1 == 0) ++failures;
                if (kvtest::readVariable(obj, id) != kvtest::Bytes().raw(id).text(tag).vec()) ++failures;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, 0);

    for (int i = 0; i < kPrinters; ++i) {
        auto alerts = drainAlerts(handles[static_cast<size_t>(i)], 0x5FE);
        ASSERT_EQ(alerts.size(), 1u) << i;
        EXPECT_EQ(alerts[0], (kvtest::Bytes{0x03, 0x40, 0x09, 0x07, 0x54}.text("PRINTER-" + std::to_string(i)).vec()));
        BceClosePrinter(handles[static_cast<size_t>(i)]);
    }

    constexpr int kPolled = 20;
    struct Printer {
        unsigned short handle = 0;
        std::unique_ptr<KVPrtObj> object;
        std::unique_ptr<KVPrtObjBatch> batch;
        kvtest::FullPoll batched, inTurn;
    };
    std::vector<Printer> printers(kPolled);
    for (int i = 0; i < kPolled; ++i) {
        Printer& p = printers[static_cast<size_t>(i)];
        ASSERT_EQ(BceOpenPrinter(daemon.uri(std::to_string(i)).c_str(), &p.handle), 0);
        p.object = std::make_unique<KVPrtObj>(p.handle, 1);
        p.batch = std::make_unique<KVPrtObjBatch>(*p.object);
        p.batched.addTo(*p.batch);
    }
    std::mutex lock;
    std::condition_variable finished;
    int unfinished = kPolled;
    for (Printer& p : printers)
        p.batch->start([&] {
            std::lock_guard guard(lock);
            --unfinished;
            finished.notify_one();
        });
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(finished.wait_for(guard, std::chrono::seconds(10), [&] { return unfinished == 0; }));
    }
    for (Printer& p : printers) {
        p.batched.takeResults(*p.batch);
        p.inTurn.runInTurn(*p.object);
        EXPECT_TRUE(p.batched.sameAs(p.inTurn));
        EXPECT_EQ(p.batched.results, decltype(p.batched.results){});   // all 0
        EXPECT_GT(p.inTurn.toner.numSupplies(), 0u);
    }
    for (Printer& p : printers) {
        p.batch.reset();
        p.object.reset();
        BceClosePrinter(p.handle);
    }
}

// Eight threads share one connection to a daemon that answers each request
// after 50 ms, in whatever order its workers finish: the requests are
// pipelined, so the threads do not wait for each other's replies.
TEST(SharedConnection, PipelinedRequestsAnsweredOutOfOrderReachTheirCallers) {
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "50", "--workers", "8"});
    unsigned short handle;
    ASSERT_EQ(BceOpenPrinter(daemon.uri().c_str(), &handle), 0);
    constexpr int kThreads = 8, kRounds = 4;
    std::atomic<int> wrong{0};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (uint32_t i = 0; i < kRounds; ++i) {
                ByteVec request = kvtest::Bytes().u8(static_cast<unsigned>(t)).be32(i).vec();
                uint8_t reply[64];
                unsigned long length = sizeof reply;
                if (BceSendBidi(0, handle, 0, 0x34, reply, &length, request.data(), request.size()) != 0 ||
                    ByteVec(reply + 1, reply + length) != request)
                    ++wrong;
            }
        });
    // Meanwhile this thread keeps asynchronous requests of its own in flight
    // on the connection: their replies may be read by a waiting caller.
    struct Async {
        ByteVec request;
        std::promise<ByteVec> reply;
        static void done(void* self, long rc, const void* data, unsigned long length) {
            auto* bytes = static_cast<const uint8_t*>(data);
            static_cast<Async*>(self)->reply.set_value(rc == 0 && length ? ByteVec(bytes + 1, bytes + length) : ByteVec{});
        }
    } asyncs[16];
    for (uint32_t i = 0; i < std::size(asyncs); ++i) {
        asyncs[i].request = kvtest::Bytes().u8(0xA0).be32(i).vec();
        ASSERT_EQ(BceSendBidiAsync(0, handle, 0, 0x34, asyncs[i].request.data(), asyncs[i].request.size(), 64,
                                   &Async::done, &asyncs[i]),
                  0);
    }
    for (auto& a : asyncs) EXPECT_EQ(a.reply.get_future().get(), a.request);
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    // In turn, the 32 requests would take 1.6 s; pipelined, about 4 x 50 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
    BceClosePrinter(handle);
}

// Eight threads send loop-back requests of their own on one connection while
// the daemon is stopped and started again under them: a request may fail with
// a channel-down code, but every reply that comes is the caller's own.
TEST(SharedConnection, RepliesStayWithTheirCallersWhileTheDaemonRestarts) {
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--workers", "4"});
    unsigned short handle;
    ASSERT_EQ(BceOpenPrinter(daemon.uri("", "timeout=2000").c_str(), &handle), 0);

    constexpr int kThreads = 8;
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, unexpected{0};
    std::vector<int> answered(kThreads, 0);   // after the last restart
    std::atomic<bool> lastRestartDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (uint32_t i = 0; !stop; ++i) {
                ByteVec request = kvtest::Bytes().u8(static_cast<unsigned>(t)).be32(i).vec();
                uint8_t reply[64];
                unsigned long length = sizeof reply;
                long rc = BceSendBidi(0, handle, 0, 0x34, reply, &length, request.data(), request.size());
                if (rc == 0) {
                    if (ByteVec(reply + 1, reply + length) != request) ++wrong;
                    if (lastRestartDone) ++answered[static_cast<size_t>(t)];
                } else if (rc != BCE_E_CHANNEL_DOWN && rc != BCE_E_CONNECTION_RESET && rc != BCE_E_TIMEOUT) {
                    ++unexpected;
                }
            }
        });
    for (int restart = 0; restart < 3; ++restart) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        daemon.restart();
    }
    lastRestartDone = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(unexpected, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_GT(answered[static_cast<size_t>(t)], 0) << t;
    BceClosePrinter(handle);
}

// Threads that wait in KVPrtObjBatch::run read and decode their replies
// themselves, while other threads share the connection with synchronous
// requests: every batch decodes what the synchronous calls decode, with
// replies in order (coalesced) and out of order (workers with a delay).
TEST(SharedConnection, BatchWaitersGetTheirOwnRepliesBesideSynchronousCallers) {
    for (const char* delay : {"0", "1"}) {
        kvtest::SimDaemon daemon(KVPRTSIMD, {"--delay-ms", delay, "--workers", "4"});
        unsigned short handle;
        ASSERT_EQ(BceOpenPrinter(daemon.uri().c_str(), &handle), 0);
        KVPrtObj reference(handle, 1);
        kvtest::FullPoll expected;
        expected.runInTurn(reference);
        ASSERT_EQ(expected.results, decltype(expected.results){});
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                KVPrtObj obj(handle, 1);
                for (int round = 0; round < 25; ++round) {
                    if (t % 2) {   // a synchronous caller
                        KVPrtObj::PRINTERSTATUS status{};
                        if (obj.bidiQueryDeviceStatus(&status) != 0 ||
                            std::memcmp(&status, &expected.status, sizeof status) != 0)
                            ++wrong;
                        continue;
                    }
                    kvtest::FullPoll poll;
                    KVPrtObjBatch batch(obj);
                    poll.addTo(batch);
                    batch.run();
                    poll.takeResults(batch);
                    if (!poll.sameAs(expected)) ++wrong;
                }
            });
        for (auto& th : threads) th.join();
        EXPECT_EQ(wrong, 0) << "delay " << delay;
        BceClosePrinter(handle);
    }
}

}  // namespace
