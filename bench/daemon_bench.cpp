// kvprtsimd at fleet scale: one `kvprtsimd --copies N` with a connection open
// to each of its N printers (subject) against the same daemon polled through
// B of them (baseline), side by side in one run: the daemon's threads, its
// resident bytes per connection, and the status polls it answers per second
// with one request in flight on every connection polled. The client speaks
// the frames by hand over epoll, so that it measures the daemon only.
//
//   kvbench_daemon [--printers N] [--baseline B] [--rounds R] [--seconds S]
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvprtobj/kvprtobj.h"
#include "sim_daemon.h"
#include "wire/frame.h"
#include "wire/frame_assembler.h"
#include "wire/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Link {
    int fd = -1;
    bool waiting = false;     // a request is in flight
    kvwire::FrameAssembler replies;
};

kvwire::Bytes gRequest;   // a device-status request

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// A greeted connection to printer `index`, non-blocking, registered with `epoll`.
bool open(uint16_t port, size_t index, int epoll, Link* link) {
    kvwire::Connect result;
    link->fd = kvwire::connectTcp("127.0.0.1", std::to_string(port), 5000, &result);
    kvwire::Frame reply;
    kvwire::HelloReply hello;
    if (link->fd < 0 ||
        kvwire::writeFrame(link->fd, {kvwire::kHello, 1, kvwire::encode(kvwire::HelloRequest{std::to_string(index)})}) !=
            kvwire::Io::Ok ||
        kvwire::readFrame(link->fd, &reply, 5000) != kvwire::Io::Ok || !kvwire::decode(reply.payload, &hello) ||
        hello.rc != 0)
        return false;
    int flags = ::fcntl(link->fd, F_GETFL);
    ::fcntl(link->fd, F_SETFL, flags | O_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = index;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, link->fd, &event) == 0;
}

bool sendRequest(Link& link) {
    link.waiting = kvwire::writeAll(link.fd, gRequest.data(), gRequest.size()) == kvwire::Io::Ok;
    return link.waiting;
}

// Reads what has arrived; the number of whole replies, or -1 on a failure.
int readReplies(Link& link) {
    uint8_t buffer[4096];
    ssize_t n = ::recv(link.fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EAGAIN) return 0;
    if (n <= 0) return -1;
    link.replies.feed(buffer, static_cast<size_t>(n));
    int replies = 0;
    kvwire::Frame frame;
    for (auto r = link.replies.next(&frame); r != kvwire::FrameAssembler::Result::NeedMore; r = link.replies.next(&frame)) {
        if (r != kvwire::FrameAssembler::Result::Frame) return -1;
        ++replies;
    }
    return replies;
}

// Polls links [0, count) for `seconds`, one request in flight on each; the
// replies per second. Every reply is in before it returns.
double pollRound(std::vector<Link>& links, size_t count, int epoll, double seconds, bool* failed) {
    for (size_t i = 0; i < count; ++i) *failed |= !sendRequest(links[i]);
    auto start = Clock::now();
    auto deadline = start + std::chrono::duration<double>(seconds);
    size_t replies = 0, inFlight = count;
    std::vector<epoll_event> events(1024);
    while (inFlight > 0) {
        int ready = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 1000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            *failed = true;
            break;
        }
        bool more = Clock::now() < deadline;
        for (int e = 0; e < ready; ++e) {
            Link& link = links[events[e].data.u64];
            int got = readReplies(link);
            if (got < 0) {
                *failed = true;
                return 0;
            }
            if (got == 0) continue;
            if (more) {
                replies += static_cast<size_t>(got);
                *failed |= !sendRequest(link);
            } else {
                link.waiting = false;
                --inFlight;
            }
        }
    }
    return static_cast<double>(replies) / std::chrono::duration<double>(deadline - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    size_t printers = 10000, baseline = 100;
    int rounds = 5;
    double seconds = 1.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--printers")) printers = std::strtoul(argv[i + 1], nullptr, 10);
        if (!std::strcmp(argv[i], "--baseline")) baseline = std::strtoul(argv[i + 1], nullptr, 10);
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    }
    printers = std::clamp<size_t>(printers, 1, 10000);
    baseline = std::clamp<size_t>(baseline, 1, printers);

    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < printers + 64) {
        std::fprintf(stderr, "daemon_bench: %zu printers need %zu descriptors, the hard limit is %llu\n", printers,
                     printers + 64, static_cast<unsigned long long>(files.rlim_cur));
        return 1;
    }
    kvwire::SendBidiRequest status{0, 0, kvbidi::kDeviceStatus, 64, {}};
    gRequest = kvwire::encodeFrame({kvwire::kSendBidi, 1, kvwire::encode(status)});

    std::string n = std::to_string(printers);
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--copies", n, "--max-connections", n});
    int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<Link> links(printers);
    long threadsIdle = daemon.status("Threads"), residentIdle = daemon.status("VmRSS");
    long threads[2], resident[2];   // at the baseline's connections, then at every printer's
    for (size_t i = 0; i < printers; ++i) {
        if (!open(daemon.port(), i, epoll, &links[i])) {
            std::fprintf(stderr, "daemon_bench: printer %zu: cannot connect and greet\n", i);
            return 1;
        }
        if (i + 1 == baseline || i + 1 == printers) {
            int k = i + 1 == printers;
            threads[k] = daemon.status("Threads");
            resident[k] = daemon.status("VmRSS");
        }
    }

    // Rounds in turn, so that both see the same machine.
    std::vector<double> rates[2];
    bool failed = false;
    for (int r = 0; r < rounds && !failed; ++r) {
        rates[1].push_back(pollRound(links, printers, epoll, seconds, &failed));
        rates[0].push_back(pollRound(links, baseline, epoll, seconds, &failed));
    }
    long residentPolled = daemon.status("VmRSS");

    auto perConnection = [&](long kb) {
        return static_cast<double>(kb - residentIdle) * 1024.0 / static_cast<double>(printers);
    };
    std::printf("kvprtsimd --copies %zu, a raw client: %zu connections (subject) against %zu (baseline); "
                "polls: median of %d rounds of %.1f s, one device-status request in flight per connection\n",
                printers, printers, baseline, rounds, seconds);
    std::printf("%-40s %14s %14s %8s\n", "measure", "subject", "baseline", "ratio");
    std::printf("%-40s %14ld %14ld %7.2fx\n", "daemon threads", threads[1], threads[0],
                static_cast<double>(threads[1]) / static_cast<double>(threads[0]));
    std::printf("%-40s %14.0f %14.0f %7.2fx\n", "polls per second", median(rates[1]), median(rates[0]),
                median(rates[1]) / median(rates[0]));
    std::printf("daemon resident bytes per connection, %zu open: %.0f B; after the polls: %.0f B "
                "(the idle daemon: %ld threads, %ld kB for its printers)\n",
                printers, perConnection(resident[1]), perConnection(residentPolled), threadsIdle, residentIdle);
    for (Link& link : links) ::close(link.fd);
    ::close(epoll);
    return failed ? 1 : 0;
}
