// A request round trip through the engine to kvprtsimd on loopback, against
// a raw TCP ping-pong of the same bytes (the request frame out, the reply
// frame back) between this process and a minimal echo process: the floor of
// a round trip on this machine. At 1 and at 2 threads, the raw threads with a
// connection each; the engine's threads either share one printer handle (one
// connection) or have a handle (a connection) each. And the full poll of a
// printer (kvtest::FullPoll, ten requests) sent together through
// KVPrtObjBatch, against one request's round trip and against the ten
// requests one after another.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "full_poll.h"
#include "kvprtobj/kvprtobj.h"
#include "kvprtobj/kvprtsim.h"
#include "side_by_side.h"
#include "sim_daemon.h"
#include "wire/frame.h"
#include "wire/socket.h"

namespace {

constexpr unsigned short kPageCounts = kvbidi::kPageCounts;
constexpr unsigned long kCapacity = KVPrtObj::kDefaultReplySize;

kvwire::Bytes gRequest, gReply;   // the frames of one page-count request and its reply
unsigned short gHandle = 0;       // shared by the threads
unsigned short gOwnHandles[2] = {};   // one per thread
uint16_t gRawPort = 0;

// The frames the engine and the daemon exchange for the request.
void makeFrames() {
    auto sim = kvsim::SimPrinter::fromDefault();
    kvwire::Bytes buffer(kCapacity);
    unsigned long length = kCapacity;
    sim->sendBidi(0, 0, kPageCounts, buffer.data(), &length, nullptr, 0);
    buffer.resize(length);
    gRequest = kvwire::encodeFrame({kvwire::kSendBidi, 1, kvwire::encode(kvwire::SendBidiRequest{0, 0, kPageCounts, kCapacity, {}})});
    gReply = kvwire::encodeFrame(
        {kvwire::kSendBidi | kvwire::kReplyBit, 1, kvwire::encode(kvwire::DataReply{0, static_cast<uint32_t>(length), buffer})});
}

// The echo process: reads a request frame's bytes, writes the reply frame's bytes.
pid_t startRawServer() {
    std::string error;
    int listener = kvwire::listenTcp("127.0.0.1", "0", &gRawPort, &error);
    if (listener < 0) {
        std::fprintf(stderr, "tcp_bench: %s\n", error.c_str());
        std::exit(1);
    }
    pid_t pid = ::fork();
    if (pid != 0) {
        ::close(listener);
        return pid;
    }
    for (;;) {
        int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd] {
            std::vector<uint8_t> in(gRequest.size());
            for (;;) {
                size_t got = 0;
                while (got < in.size()) {
                    ssize_t n = ::recv(fd, in.data() + got, in.size() - got, 0);
                    if (n <= 0) {
                        ::close(fd);
                        return;
                    }
                    got += static_cast<size_t>(n);
                }
                if (kvwire::writeAll(fd, gReply.data(), gReply.size()) != kvwire::Io::Ok) break;
            }
            ::close(fd);
        }).detach();
    }
}

void roundTrips(benchmark::State& s, unsigned short handle) {
    std::vector<uint8_t> reply(kCapacity);
    for (auto _ : s) {
        unsigned long length = kCapacity;
        if (BceSendBidi(0, handle, 0, kPageCounts, reply.data(), &length, nullptr, 0) != 0)
            s.SkipWithError("request failed");
    }
    s.SetItemsProcessed(s.iterations());
}

void sharedHandle(benchmark::State& s) { roundTrips(s, gHandle); }
void ownHandle(benchmark::State& s) { roundTrips(s, gOwnHandles[s.thread_index() % 2]); }

void fullPollBatched(benchmark::State& s) {
    KVPrtObj printer(gHandle, KVPrtObj::PRINTER_TYPE_0, 0);
    printer.setBidi(1);
    kvtest::FullPoll poll;
    KVPrtObjBatch batch(printer);
    poll.addTo(batch);
    for (auto _ : s) {
        batch.run();
        if (batch.result(0) != 0) s.SkipWithError("poll failed");
    }
}

void fullPollInTurn(benchmark::State& s) {
    KVPrtObj printer(gHandle, KVPrtObj::PRINTER_TYPE_0, 0);
    printer.setBidi(1);
    kvtest::FullPoll poll;
    for (auto _ : s) {
        poll.runInTurn(printer);
        if (poll.results[0] != 0) s.SkipWithError("poll failed");
    }
}

void rawRoundTrip(benchmark::State& s) {
    kvwire::Connect result;
    int fd = kvwire::connectTcp("127.0.0.1", std::to_string(gRawPort), 5000, &result);
    if (fd < 0) {
        s.SkipWithError("cannot connect");
        return;
    }
    std::vector<uint8_t> in(gReply.size());
    for (auto _ : s) {
        kvwire::writeAll(fd, gRequest.data(), gRequest.size());
        size_t got = 0;
        while (got < in.size()) {
            ssize_t n = ::recv(fd, in.data() + got, in.size() - got, 0);
            if (n <= 0) {
                s.SkipWithError("connection lost");
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    s.SetItemsProcessed(s.iterations());
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    makeFrames();
    pid_t raw = startRawServer();   // forked before any thread is started
    int rc;
    {
        kvtest::SimDaemon daemon(KVPRTSIMD, {});
        for (unsigned short* h : {&gHandle, &gOwnHandles[0], &gOwnHandles[1]})
            if (BceOpenPrinter(daemon.uri().c_str(), h) != 0) {
                std::fprintf(stderr, "tcp_bench: %s\n", BceLastOpenError());
                return 1;
            }
        benchmark::RegisterBenchmark("tcp/round_trip_threads_1/subject", sharedHandle)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/round_trip_threads_1/baseline", rawRoundTrip)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/round_trip_threads_2_shared_handle/subject", sharedHandle)
            ->Threads(2)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/round_trip_threads_2_shared_handle/baseline", rawRoundTrip)
            ->Threads(2)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/round_trip_threads_2_own_handles/subject", ownHandle)
            ->Threads(2)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/round_trip_threads_2_own_handles/baseline", rawRoundTrip)
            ->Threads(2)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/full_poll_batched_vs_one_request/subject", fullPollBatched)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/full_poll_batched_vs_one_request/baseline", sharedHandle)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/full_poll_batched_vs_in_turn/subject", fullPollBatched)->UseRealTime();
        benchmark::RegisterBenchmark("tcp/full_poll_batched_vs_in_turn/baseline", fullPollInTurn)->UseRealTime();
        rc = kvbench::runPairs(argc, argv, "subject", "baseline");
        for (unsigned short h : {gHandle, gOwnHandles[0], gOwnHandles[1]}) BceClosePrinter(h);
    }
    ::kill(raw, SIGTERM);
    ::waitpid(raw, nullptr, 0);
    return rc;
}
