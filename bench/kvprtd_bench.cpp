// kvprtd at scale: printers served by kvprtsimd, watched by kvprtd as a
// program, each configuration run side by side with its baseline, several
// rounds in turn, medians reported.
//
//   kvbench_kvprtd [--printers N] [--silent S] [--rounds R] [--cycles C]
//
// For each configuration kvprtd starts afresh on a new database, polls every
// second, and is measured after its first two cycles (first contact and
// reports): the median of C cycle times (kvprt_poll_cycle_seconds), its
// resident memory and thread count, and the time to answer GET /metrics.
//
//   cycle      N printers                  against N/10 printers (how it scales)
//   silent     N printers and S silent     against N printers (the delay the silent add)
//   memory     resident, N printers        against no printer (the difference per printer)
//   stacks     the part of it in thread stacks
//   threads    N printers                  against no printer
//   /metrics   GET /metrics, N printers    against GET /api/v1/status (the HTTP round trip)
//
// Silent printers come from a second kvprtsimd started with --silent S (they
// answer the greeting, never a request); a kvprtsimd without that option is
// replaced by --delay-ms of an hour on one worker, which answers no request
// within the run either.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "sim_daemon.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A field of /proc/PID/status ("VmRSS", "Threads"), as a number.
long procStatus(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(std::string(field) + ":", 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

// Resident KiB of the process's thread stacks (mappings of the default 8 MiB stack size).
long stackKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    long total = 0;
    bool stack = false;
    for (std::string line; std::getline(in, line);) {
        unsigned long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2 && line.find(' ') > line.find('-'))
            stack = end - start == 8ul << 20;
        else if (stack && line.rfind("Rss:", 0) == 0)
            total += std::atol(line.c_str() + 4);
    }
    return total;
}

struct Figures {
    double cycleSeconds = 0;
    double rssKiB = 0, stackKiB = 0;
    double threads = 0;
    double metricsMs = 0, statusMs = 0;
    size_t metricsBytes = 0;
};

double getMs(httplib::Client& client, const char* path, size_t* bytes = nullptr) {
    auto start = Clock::now();
    auto r = client.Get(path);
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (bytes && r) *bytes = r->body.size();
    return r && r->status == 200 ? ms : -1;
}

// One kvprtd on the fleet `printers` (URIs), measured over `cycles` cycles
// that start once `live` printers are up.
std::optional<Figures> measure(const std::vector<std::string>& printers, size_t live, int cycles) {
    kvtest::TempDir dir;
    {
        std::ofstream fleet(dir.file("fleet.toml"));
        fleet << "poll_interval_s = 1\n";
        for (size_t i = 0; i < printers.size(); ++i)
            fleet << "[[printer]]\nname = \"p" << i << "\"\nuri = \"" << printers[i] << "\"\n";
    }
    kvtest::SimDaemon kvprtd(KVPRTD, {"--fleet", dir.file("fleet.toml"), "--db", dir.file("k.db")});
    httplib::Client client("127.0.0.1", kvprtd.port());
    client.set_read_timeout(60);
    auto status = [&] {
        auto r = client.Get("/api/v1/status");
        return r && r->status == 200 ? json::parse(r->body) : json(nullptr);
    };
    Figures f;
    std::vector<double> times;
    uint64_t seen = UINT64_MAX;   // the cycles finished when all were up
    const auto deadline = Clock::now() + std::chrono::minutes(30);
    while (times.size() < static_cast<size_t>(cycles)) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "kvbench_kvprtd: %zu printers: too few cycles within 30 minutes\n", printers.size());
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        json s = status();
        if (s.is_null()) continue;
        uint64_t finished = s["cycles"]["finished"];
        if (seen == UINT64_MAX) {
            if (s["printers"]["up"] >= live) seen = finished + 1;   // the cycle under way may have begun before
            continue;
        }
        if (finished > seen) times.push_back(s["cycles"]["lastSeconds"]);
        seen = std::max(seen, finished);
    }
    f.cycleSeconds = median(times);
    f.rssKiB = static_cast<double>(procStatus(kvprtd.pid(), "VmRSS"));
    f.stackKiB = static_cast<double>(stackKiB(kvprtd.pid()));
    f.threads = static_cast<double>(procStatus(kvprtd.pid(), "Threads"));
    std::vector<double> metrics, plain;
    for (int i = 0; i < 9; ++i) {
        metrics.push_back(getMs(client, "/metrics", &f.metricsBytes));
        plain.push_back(getMs(client, "/api/v1/status"));
    }
    f.metricsMs = median(metrics);
    f.statusMs = median(plain);
    return f;
}

std::vector<std::string> uris(const kvtest::SimDaemon& daemon, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(daemon.uri(std::to_string(i)));
    return out;
}

void row(const char* measure, const std::string& subject, const std::string& baseline, const std::string& ratio,
         const char* target) {
    std::printf("%-10s %-26s %-26s %-12s %s\n", measure, subject.c_str(), baseline.c_str(), ratio.c_str(), target);
}

std::string fmt(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int printers = 1000, silent = 100, rounds = 3, cycles = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--printers")) printers = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--silent")) silent = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--cycles")) cycles = std::atoi(argv[i + 1]);
    }
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);   // inherited by kvprtd and kvprtsimd

    kvtest::SimDaemon healthy(KVPRTSIMD,
                              {"--copies", std::to_string(printers), "--max-connections", std::to_string(printers)});
    std::unique_ptr<kvtest::SimDaemon> quiet;
    if (silent > 0) {
        try {
            quiet = std::make_unique<kvtest::SimDaemon>(
                KVPRTSIMD, std::vector<std::string>{"--copies", std::to_string(silent), "--silent", std::to_string(silent),
                                                    "--max-connections", std::to_string(silent)});
        } catch (const std::exception&) {
            std::printf("kvprtsimd has no --silent: silent printers are emulated with --delay-ms 3600000 --workers 1\n");
            std::fflush(stdout);
            quiet = std::make_unique<kvtest::SimDaemon>(
                KVPRTSIMD, std::vector<std::string>{"--copies", std::to_string(silent), "--delay-ms", "3600000",
                                                    "--workers", "1"});
        }
    }
    const std::vector<std::string> all = uris(healthy, printers);
    const std::vector<std::string> tenth(all.begin(), all.begin() + std::max(1, printers / 10));
    std::vector<std::string> withSilent = all;
    if (quiet)
        for (const std::string& u : uris(*quiet, silent)) withSilent.push_back(u);

    std::map<std::string, std::vector<Figures>> runs;
    const std::vector<std::pair<std::string, const std::vector<std::string>*>> configs = {
        {"none", nullptr}, {"tenth", &tenth}, {"all", &all}, {"silent", &withSilent}};
    for (int r = 0; r < rounds; ++r)
        for (const auto& [name, fleet] : configs) {
            if (name == "silent" && !quiet) continue;
            static const std::vector<std::string> empty;
            size_t live = !fleet ? 0 : name == "silent" ? all.size() : fleet->size();
            auto f = measure(fleet ? *fleet : empty, live, cycles);
            if (!f) return 1;
            runs[name].push_back(*f);
            std::fprintf(stderr, "round %d %-6s cycle %.3f s, %.0f KiB, %.0f threads, /metrics %.1f ms\n", r + 1,
                         name.c_str(), f->cycleSeconds, f->rssKiB, f->threads, f->metricsMs);
        }
    auto med = [&](const std::string& name, double Figures::*field) {
        std::vector<double> v;
        for (const Figures& f : runs[name]) v.push_back(f.*field);
        return median(v);
    };

    std::printf("\nkvprtd: %d printers on one kvprtsimd, %d silent; medians of %d rounds\n", printers, silent, rounds);
    row("measure", "subject", "baseline", "ratio", "target");
    double cycleAll = med("all", &Figures::cycleSeconds), cycleTenth = med("tenth", &Figures::cycleSeconds);
    row("cycle", fmt("%.3f s", cycleAll), fmt("%.3f s (N/10)", cycleTenth), fmt("%.2fx", cycleAll / cycleTenth),
        "<= 10 s at 10,000");
    if (quiet) {
        double cycleSilent = med("silent", &Figures::cycleSeconds);
        row("silent", fmt("%.3f s", cycleSilent), fmt("%.3f s", cycleAll), fmt("%.2fx", cycleSilent / cycleAll),
            "<= 1.10x");
    }
    double rssAll = med("all", &Figures::rssKiB), rssNone = med("none", &Figures::rssKiB);
    row("memory", fmt("%.0f KiB", rssAll), fmt("%.0f KiB (none)", rssNone),
        fmt("%.1f KiB/pr", (rssAll - rssNone) / printers), "<= 16 KiB per printer");
    double stacksAll = med("all", &Figures::stackKiB), stacksNone = med("none", &Figures::stackKiB);
    row("stacks", fmt("%.0f KiB", stacksAll), fmt("%.0f KiB (none)", stacksNone),
        fmt("%.1f KiB/pr", (stacksAll - stacksNone) / printers), "(part of memory: threads' stacks)");
    row("threads", fmt("%.0f", med("all", &Figures::threads)), fmt("%.0f (none)", med("none", &Figures::threads)), "",
        "<= 32");
    double metricsMs = med("all", &Figures::metricsMs), statusMs = med("all", &Figures::statusMs);
    row("/metrics", fmt("%.1f ms", metricsMs), fmt("%.1f ms (status)", statusMs), fmt("%.1fx", metricsMs / statusMs),
        "<= 250 ms at 10,000");
    std::printf("(/metrics of %zu bytes)\n", runs["all"].empty() ? size_t{0} : runs["all"].front().metricsBytes);
    return 0;
}
