// Scale: one process with thousands of printers open on one kvprtsimd
// (--copies N), one engine handle (one connection) and one printer object per
// printer, each polled for its device status. Reports the threads and the
// resident memory of both processes (from /proc/PID/status), what one open
// printer costs on each side, and the polls per second: from one thread
// through KVPrtObjBatch (every printer's poll in flight at once, as a fleet
// service polls), and from a few threads with the synchronous calls. Socket
// buffers are the kernel's and not part of the resident memory.
//
//   kvbench_scale [--printers N] [--threads T] [--rounds R]
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kvprtobj/kvprtobj.h"
#include "sim_daemon.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t heapInUse() { return mallinfo2().uordblks; }

// A field of /proc/PID/status ("Threads", "VmRSS" in KiB), of this process for pid 0.
long statusField(pid_t pid, const char* field) {
    std::ifstream in(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == std::string(field) + ":" && in >> value) return value;
        in.ignore(4096, '\n');
    }
    return -1;
}

struct Process {
    const char* name;
    pid_t pid;   // 0: this process
    long threads() const { return statusField(pid, "Threads"); }
    long residentKiB() const { return statusField(pid, "VmRSS"); }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Polls of every printer's status per second, `rounds` times; the median.
template <class Round>
double pollRate(int printers, int rounds, Round round) {
    std::vector<double> rates;
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        round();
        rates.push_back(printers / std::chrono::duration<double>(Clock::now() - start).count());
    }
    return median(rates);
}

}  // namespace

int main(int argc, char** argv) {
    int printers = 10000, threads = 4, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--printers")) printers = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--threads")) threads = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    }
    const size_t n = static_cast<size_t>(printers);

    // Idle printer objects: what the heap holds for each (no engine handle).
    {
        const int count = 10000;
        std::vector<std::unique_ptr<KVPrtObj>> idle;
        idle.reserve(count);
        size_t before = heapInUse();
        for (int i = 0; i < count; ++i) idle.push_back(std::make_unique<KVPrtObj>());
        std::printf("idle printer object: %zu bytes (sizeof %zu)\n", (heapInUse() - before) / count, sizeof(KVPrtObj));
    }

    // A descriptor per connection on both sides: the daemon inherits the limit.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_max < n + 64) std::printf("warning: %lu descriptors allowed, fewer than the printers\n", files.rlim_max);

    kvtest::SimDaemon daemon(KVPRTSIMD,
                             {"--copies", std::to_string(printers), "--max-connections", std::to_string(printers)});
    const Process sides[] = {{"client", 0}, {"daemon", daemon.pid()}};
    auto report = [&](const char* when) {
        for (const Process& p : sides)
            std::printf("%-7s %-34s %6ld threads %9ld KiB resident\n", p.name, when, p.threads(), p.residentKiB());
    };
    report("before opening");
    long residentBefore[2] = {sides[0].residentKiB(), sides[1].residentKiB()};

    std::vector<unsigned short> handles(n);
    for (size_t i = 0; i < n; ++i)
        if (BceOpenPrinter(daemon.uri(std::to_string(i)).c_str(), &handles[i]) != 0) {
            std::fprintf(stderr, "scale_bench: printer %zu: %s\n", i, BceLastOpenError());
            return 1;
        }
    report("with the printers open");
    for (int s = 0; s < 2; ++s)
        std::printf("%-7s open printer (engine handle and connection): %ld bytes resident each\n", sides[s].name,
                    (sides[s].residentKiB() - residentBefore[s]) * 1024 / printers);

    std::vector<std::unique_ptr<KVPrtObj>> objects;
    std::vector<std::unique_ptr<KVPrtObjBatch>> batches;
    std::vector<KVPrtObj::PRINTERSTATUS> statuses(n);
    std::atomic<int> failures{0};
    for (size_t i = 0; i < n; ++i) {
        objects.push_back(std::make_unique<KVPrtObj>(handles[i], KVPrtObj::PRINTER_TYPE_0, 0));
        objects.back()->setBidi(1);
        batches.push_back(std::make_unique<KVPrtObjBatch>(*objects.back()));
        batches.back()->add([&statuses, i](KVPrtObj& p) { return p.bidiQueryDeviceStatus(&statuses[i]); });
    }

    // One thread: every printer's poll in flight at once; the replies are
    // decoded on the engine's I/O thread.
    std::mutex lock;
    std::condition_variable finished;
    long threadsWhilePolling[2] = {0, 0};
    double batched = pollRate(printers, rounds, [&] {
        size_t unfinished = n;
        for (auto& b : batches)
            b->start([&] {
                std::lock_guard guard(lock);
                if (--unfinished == 0) finished.notify_one();
            });
        for (int s = 0; s < 2; ++s) threadsWhilePolling[s] = std::max(threadsWhilePolling[s], sides[s].threads());
        std::unique_lock guard(lock);
        finished.wait(guard, [&] { return unfinished == 0; });
        for (auto& b : batches) failures += b->result(0) != 0;
    });
    report("after polling from one thread");
    std::printf("status polls of %d printers from one thread (KVPrtObjBatch): median %.0f polls/s over %d rounds; "
                "threads while polling: client %ld, daemon %ld\n",
                printers, batched, rounds, threadsWhilePolling[0], threadsWhilePolling[1]);

    // A few threads with the synchronous calls, the printers shared out among them.
    double synchronous = pollRate(printers, rounds, [&] {
        std::atomic<size_t> next{0};
        std::vector<std::thread> pollers;
        for (int t = 0; t < threads; ++t)
            pollers.emplace_back([&] {
                for (size_t i; (i = next++) < n;) {
                    KVPrtObj::PRINTERSTATUS status{};
                    if (objects[i]->bidiQueryDeviceStatus(&status) != 0) ++failures;
                }
            });
        for (auto& p : pollers) p.join();
    });
    std::printf("status polls of %d printers from %d threads (synchronous calls): median %.0f polls/s over %d rounds\n",
                printers, threads, synchronous, rounds);
    std::printf("failed polls: %d\n", failures.load());

    batches.clear();
    objects.clear();
    for (unsigned short h : handles) BceClosePrinter(h);
    return failures == 0 ? 0 : 1;
}
