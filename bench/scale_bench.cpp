// Scale: one process polling the device status of 1,000 printers served by
// one kvprtsimd (--copies 1000), one printer object and one engine handle
// (one connection) per printer, from a few polling threads; and the memory of
// an idle printer object.
//
//   kvbench_scale [--printers N] [--threads T] [--rounds R]
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kvprtobj/kvprtobj.h"
#include "sim_daemon.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t heapInUse() { return mallinfo2().uordblks; }

// Resident memory of this process in bytes.
size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int printers = 1000, threads = 4, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--printers")) printers = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--threads")) threads = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    }

    // Idle printer objects: what the heap holds for each (no engine handle).
    {
        const int n = 10000;
        std::vector<std::unique_ptr<KVPrtObj>> idle;
        idle.reserve(n);
        size_t before = heapInUse();
        for (int i = 0; i < n; ++i) idle.push_back(std::make_unique<KVPrtObj>());
        size_t after = heapInUse();
        std::printf("idle printer object: %zu bytes (sizeof %zu)\n", (after - before) / n, sizeof(KVPrtObj));
    }

    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    kvtest::SimDaemon daemon(KVPRTSIMD, {"--copies", std::to_string(printers)});
    std::vector<unsigned short> handles(static_cast<size_t>(printers));
    std::vector<std::unique_ptr<KVPrtObj>> objects;
    size_t residentBefore = residentBytes();
    for (int i = 0; i < printers; ++i) {
        if (BceOpenPrinter(daemon.uri(std::to_string(i)).c_str(), &handles[static_cast<size_t>(i)]) != 0) {
            std::fprintf(stderr, "scale_bench: printer %d: %s\n", i, BceLastOpenError());
            return 1;
        }
        objects.push_back(std::make_unique<KVPrtObj>(handles[static_cast<size_t>(i)], KVPrtObj::PRINTER_TYPE_0, 0));
        objects.back()->setBidi(1);
    }
    std::printf("open printer (engine handle, connection, reader thread, object): %zu bytes resident each\n",
                (residentBytes() - residentBefore) / static_cast<size_t>(printers));

    // Rounds: every printer's status once, the printers shared out among the threads.
    std::vector<double> rates;
    std::atomic<int> failures{0};
    for (int round = 0; round < rounds; ++round) {
        std::atomic<int> next{0};
        auto start = Clock::now();
        std::vector<std::thread> pollers;
        for (int t = 0; t < threads; ++t)
            pollers.emplace_back([&] {
                for (int i; (i = next++) < printers;) {
                    KVPrtObj::PRINTERSTATUS status{};
                    if (objects[static_cast<size_t>(i)]->bidiQueryDeviceStatus(&status) != 0) ++failures;
                }
            });
        for (auto& p : pollers) p.join();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rates.push_back(printers / seconds);
    }
    std::printf("status polls of %d printers from %d threads: median %.0f requests/s over %d rounds (%d failed)\n",
                printers, threads, median(rates), rounds, failures.load());

    objects.clear();
    for (unsigned short h : handles) BceClosePrinter(h);
    return failures == 0 ? 0 : 1;
}
