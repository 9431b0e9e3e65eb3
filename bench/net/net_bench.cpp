// kvprtd watching net:// printers at scale, side by side with Prometheus's
// snmp_exporter on the same printers (bench/net/run):
//
//   kvbench_net [--printers N] [--rounds R] [--cycles C] [--interval S] [--scrapers K]
//               [--recording FILE] [--module FILE] [--exporter PROGRAM]
//
// One snmpsimd serves N copies of one recording, each under its own
// community (p0001 ... pN), on one UDP endpoint. kvprtd polls them as
// net://127.0.0.1?protocols=snmp&snmp-port=P&community=pNNNN&timeout=30000
// every S seconds; snmp_exporter has one module per community (bench/net/
// printer_module.yml with the community put in) and is asked for every
// printer once per cycle by K threads of this program, as Prometheus would
// scrape it. After kvprtd's first contact with every printer, R rounds take
// turns (their order alternating): C cycles of kvprtd (after one cycle that
// is not counted), while snmp_exporter idles, then C cycles of scrapes while
// kvprtd is stopped (SIGSTOP, once a cycle ended; when the next one has begun
// already, its polls in flight end in the cycle that is not counted). Per
// round:
//
//   CPU per printer   user + system time of kvprtd over its C cycles divided
//                     by its polls (kvprt_poll_duration_seconds_count), and of
//                     snmp_exporter divided by its scrapes; the same of
//                     snmpsimd, the agent's work for each
//   cycle             kvprt_poll_cycle_seconds; the wall time of N scrapes
//   threads, fds      kvprtd's, the most seen while it polls (/proc), and its
//                     UDP sockets (SNMP sessions) among the descriptors
//
// Medians of the rounds; the ratios are kvprtd's figure over snmp_exporter's.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "sim_daemon.h"
#include "snmpsim_peer.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

struct Settings {
    int printers = 1000, rounds = 3, cycles = 1, intervalS = 15, scrapers = 8;
    std::string recording = KVBENCH_RECORDING, module = KVBENCH_MODULE, exporter = "prometheus-snmp-exporter";
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// User and system CPU time of process `pid`, every thread it ever had, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');   // the name may hold spaces
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {   // fields 14 and 15 of proc(5)
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Open descriptors of process `pid`, and the UDP sockets among them (SNMP's).
std::pair<int, int> descriptors(pid_t pid) {
    int all = 0;
    std::set<std::string> sockets;   // "socket:[INODE]"
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        ++all;
        std::error_code unreadable;
        std::string target = fs::read_symlink(entry.path(), unreadable).string();
        if (target.rfind("socket:[", 0) == 0) sockets.insert(target);
    }
    int udp = 0;
    for (const char* table : {"/net/udp", "/net/udp6"}) {
        std::ifstream in("/proc/" + std::to_string(pid) + table);
        std::string line;
        std::getline(in, line);   // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 10 && fields >> field; ++i) {}   // the inode is the tenth
            udp += sockets.count("socket:[" + field + "]") != 0;
        }
    }
    return {all, udp};
}

std::string community(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%04d", i + 1);
    return name;
}

// kvprtd as a program on the fleet of every printer.
class Kvprtd {
public:
    Kvprtd(const kvtest::TempDir& dir, const Settings& s, uint16_t agentPort) {
        std::ofstream fleet(dir.file("fleet.toml"));
        fleet << "poll_interval_s = " << s.intervalS << "\n";
        // snmpsimd answers one request after the other, slowly: with 256 in
        // flight a reply may take seconds, longer than the default time-out.
        for (int i = 0; i < s.printers; ++i)
            fleet << "[[printer]]\nname = \"" << community(i) << "\"\nuri = \"net://127.0.0.1?protocols=snmp&snmp-port="
                  << agentPort << "&community=" << community(i) << "&timeout=30000\"\n";
        fleet.close();
        m_daemon.emplace(KVPRTD, std::vector<std::string>{"--fleet", dir.file("fleet.toml"), "--db", dir.file("k.db")});
        m_client.emplace("127.0.0.1", m_daemon->port());
        m_client->set_read_timeout(60);
    }
    pid_t pid() const { return m_daemon->pid(); }

    json status() {
        auto r = m_client->Get("/api/v1/status");
        return r && r->status == 200 ? json::parse(r->body, nullptr, false) : json(nullptr);
    }
    // Polls finished since kvprtd started.
    double polls() {
        auto r = m_client->Get("/metrics");
        const std::string key = "\nkvprt_poll_duration_seconds_count ";
        size_t at = r ? r->body.find(key) : std::string::npos;
        return at == std::string::npos ? -1 : std::atof(r->body.c_str() + at + key.size());
    }
    // Waits for the end of the next cycle, `sample` called every 100 ms meanwhile; its time, or nullopt.
    std::optional<double> nextCycle(const std::function<void()>& sample) {
        const uint64_t seen = finished();
        for (auto deadline = Clock::now() + std::chrono::minutes(30); Clock::now() < deadline;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sample();
            json s = status();
            if (!s.is_null() && s["cycles"]["finished"].get<uint64_t>() > seen) return s["cycles"]["lastSeconds"].get<double>();
        }
        return std::nullopt;
    }
    uint64_t finished() {
        json s = status();
        return s.is_null() ? 0 : s["cycles"]["finished"].get<uint64_t>();
    }
    void pause() { ::kill(pid(), SIGSTOP); }
    void resume() { ::kill(pid(), SIGCONT); }

private:
    std::optional<kvtest::SimDaemon> m_daemon;
    std::optional<httplib::Client> m_client;
};

// snmp_exporter with a module per printer, and the scrapes of a cycle.
class Exporter {
public:
    Exporter(const kvtest::TempDir& dir, const Settings& s, uint16_t agentPort)
        : m_port(kvtest::freePort()), m_agentPort(agentPort), m_printers(s.printers), m_scrapers(s.scrapers) {
        const std::string module = kvtest::readText(s.module);
        std::ofstream config(dir.file("snmp.yml"));
        for (int i = 0; i < s.printers; ++i) {
            std::string copy = module;
            for (size_t at; (at = copy.find("COMMUNITY")) != std::string::npos;) copy.replace(at, 9, community(i));
            config << copy;
        }
        config.close();
        m_daemon.emplace(s.exporter,
                         std::vector<std::string>{"--config.file=" + dir.file("snmp.yml"),
                                                  "--web.listen-address=127.0.0.1:" + std::to_string(m_port)},
                         kvtest::launchOnPort(m_port, dir.file("exporter.log")));
    }
    pid_t pid() const { return m_daemon->pid(); }

    // Every printer scraped once; the wall time, or nullopt when a scrape failed.
    std::optional<double> cycle() {
        std::atomic<int> next{0}, failed{0};
        auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int t = 0; t < m_scrapers; ++t)
            threads.emplace_back([&] {
                httplib::Client client("127.0.0.1", m_port);
                client.set_read_timeout(60);
                for (int i; (i = next++) < m_printers;) {
                    const std::string path = "/snmp?module=" + community(i) + "&target=127.0.0.1:" + std::to_string(m_agentPort);
                    auto r = client.Get(path.c_str());
                    if (!r || r->status != 200 || r->body.find("\nprtMarkerSuppliesLevel{") == std::string::npos) {
                        if (failed++ == 0)
                            std::fprintf(stderr, "kvbench_net: scrape of %s failed: %s\n", community(i).c_str(),
                                         r ? r->body.substr(0, 300).c_str() : "no answer");
                    }
                }
            });
        for (std::thread& t : threads) t.join();
        if (failed) return std::nullopt;
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

private:
    int m_port;
    uint16_t m_agentPort;
    int m_printers, m_scrapers;
    std::optional<kvtest::SimDaemon> m_daemon;
};

struct Round {
    double oursCpu = 0, theirsCpu = 0;             // per poll / per scrape, seconds
    double agentOurs = 0, agentTheirs = 0;         // snmpsimd's, the same
    double oursCycle = 0, theirsCycle = 0;         // medians of the round's cycles
    double threads = 0, fds = 0, sockets = 0;      // kvprtd's, the most seen (sockets: UDP ones)
};

bool measureOurs(Kvprtd& k, pid_t agent, const Settings& s, Round* r) {
    k.resume();
    auto sample = [&] {
        auto [all, sockets] = descriptors(k.pid());
        r->fds = std::max(r->fds, double(all));
        r->sockets = std::max(r->sockets, double(sockets));
        r->threads = std::max(r->threads, double(kvtest::procStatus("/proc/" + std::to_string(k.pid()), "Threads")));
    };
    if (!k.nextCycle(sample)) return false;   // the cycle under way when it resumed: not counted
    const double polls0 = k.polls(), cpu0 = cpuSeconds(k.pid()), agent0 = cpuSeconds(agent);
    std::vector<double> cycles;
    for (int c = 0; c < s.cycles; ++c) {
        auto seconds = k.nextCycle(sample);
        if (!seconds) return false;
        cycles.push_back(*seconds);
    }
    const double cpu1 = cpuSeconds(k.pid()), agent1 = cpuSeconds(agent), polls1 = k.polls();
    k.pause();
    if (polls1 <= polls0) return false;
    r->oursCpu = (cpu1 - cpu0) / (polls1 - polls0);
    r->agentOurs = (agent1 - agent0) / (polls1 - polls0);
    r->oursCycle = median(cycles);
    return true;
}

bool measureTheirs(Exporter& e, pid_t agent, const Settings& s, Round* r) {
    const double cpu0 = cpuSeconds(e.pid()), agent0 = cpuSeconds(agent);
    std::vector<double> cycles;
    for (int c = 0; c < s.cycles; ++c) {
        auto seconds = e.cycle();
        if (!seconds) return false;
        cycles.push_back(*seconds);
    }
    const double scrapes = double(s.cycles) * s.printers;
    r->theirsCpu = (cpuSeconds(e.pid()) - cpu0) / scrapes;
    r->agentTheirs = (cpuSeconds(agent) - agent0) / scrapes;
    r->theirsCycle = median(cycles);
    return true;
}

std::string fmt(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void row(const std::string& measure, const std::string& ours, const std::string& theirs, const std::string& ratio,
         const char* target) {
    std::printf("%-28s %-16s %-16s %-8s %s\n", measure.c_str(), ours.c_str(), theirs.c_str(), ratio.c_str(), target);
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--printers") s.printers = std::atoi(value.c_str());
        else if (option == "--rounds") s.rounds = std::atoi(value.c_str());
        else if (option == "--cycles") s.cycles = std::atoi(value.c_str());
        else if (option == "--interval") s.intervalS = std::atoi(value.c_str());
        else if (option == "--scrapers") s.scrapers = std::atoi(value.c_str());
        else if (option == "--recording") s.recording = value;
        else if (option == "--module") s.module = value;
        else if (option == "--exporter") s.exporter = value;
        else {
            std::fprintf(stderr, "kvbench_net: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    if (s.printers < 1 || s.printers > 9999 || s.rounds < 1 || s.cycles < 1 || s.intervalS < 3 || s.scrapers < 1) {
        std::fprintf(stderr, "kvbench_net: expected 1 to 9999 printers, rounds and cycles of 1 or more, an interval of "
                             "3 s or more (each poll then asks the agent) and 1 scraper or more\n");
        return 2;
    }
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    kvtest::TempDir dir;
    fs::create_directories(dir.file("recordings"));
    for (int i = 0; i < s.printers; ++i)
        fs::create_symlink(fs::absolute(s.recording), dir.file("recordings/" + community(i) + ".snmprec"));
    std::fprintf(stderr, "kvbench_net: snmpsimd indexes %d recordings\n", s.printers);
    kvtest::SnmpSim agent({dir.file("recordings")});
    const pid_t agentPid = agent.pid();

    std::fprintf(stderr, "kvbench_net: kvprtd's first contact with %d printers (every table walked)\n", s.printers);
    Kvprtd kvprtd(dir, s, agent.port());
    const auto started = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        json st = kvprtd.status();
        if (!st.is_null() && st["printers"]["up"].get<int>() == s.printers) break;
        if (Clock::now() - started > std::chrono::minutes(30)) {
            std::fprintf(stderr, "kvbench_net: not every printer up within 30 minutes: %s\n", st.dump().c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "kvbench_net: every printer up after %.0f s\n",
                 std::chrono::duration<double>(Clock::now() - started).count());
    kvprtd.pause();
    Exporter exporter(dir, s, agent.port());

    std::vector<Round> rounds;
    for (int r = 0; r < s.rounds; ++r) {
        Round round;
        const bool oursFirst = r % 2 == 0;
        bool ok = oursFirst ? measureOurs(kvprtd, agentPid, s, &round) && measureTheirs(exporter, agentPid, s, &round)
                            : measureTheirs(exporter, agentPid, s, &round) && measureOurs(kvprtd, agentPid, s, &round);
        if (!ok) {
            std::fprintf(stderr, "kvbench_net: round %d failed (see above)\n", r + 1);
            return 1;
        }
        std::fprintf(stderr,
                     "round %d: CPU per printer %.0f us (kvprtd) / %.0f us (snmp_exporter) = %.2fx; agent %.0f / %.0f us; "
                     "cycle %.1f / %.1f s; kvprtd %g threads, %g fds, %g UDP sockets\n",
                     r + 1, round.oursCpu * 1e6, round.theirsCpu * 1e6, round.oursCpu / round.theirsCpu,
                     round.agentOurs * 1e6, round.agentTheirs * 1e6, round.oursCycle, round.theirsCycle, round.threads,
                     round.fds, round.sockets);
        rounds.push_back(round);
    }
    kvprtd.resume();

    auto med = [&](double Round::*field) {
        std::vector<double> v;
        for (const Round& r : rounds) v.push_back(r.*field);
        return median(v);
    };
    auto medRatio = [&](double Round::*ours, double Round::*theirs) {
        std::vector<double> v;
        for (const Round& r : rounds) v.push_back(r.*ours / r.*theirs);
        return median(v);
    };
    std::printf("\n%d net:// printers on one snmpsimd, kvprtd every %d s and snmp_exporter with %d scrapers; "
                "medians of %d rounds of %d cycles\n",
                s.printers, s.intervalS, s.scrapers, s.rounds, s.cycles);
    row("measure", "kvprtd", "snmp_exporter", "ratio", "target");
    row("CPU per printer poll", fmt("%.0f us", med(&Round::oursCpu) * 1e6), fmt("%.0f us", med(&Round::theirsCpu) * 1e6),
        fmt("%.2fx", medRatio(&Round::oursCpu, &Round::theirsCpu)), "<= 1x");
    row("agent CPU per poll", fmt("%.0f us", med(&Round::agentOurs) * 1e6), fmt("%.0f us", med(&Round::agentTheirs) * 1e6),
        fmt("%.2fx", medRatio(&Round::agentOurs, &Round::agentTheirs)), "(snmpsimd's work)");
    row("cycle of every printer", fmt("%.1f s", med(&Round::oursCycle)), fmt("%.1f s", med(&Round::theirsCycle)),
        fmt("%.2fx", medRatio(&Round::oursCycle, &Round::theirsCycle)), "(bounded by snmpsimd)");
    row("kvprtd threads", fmt("%.0f", med(&Round::threads)), "", "", "<= 24");
    row("kvprtd descriptors", fmt("%.0f", med(&Round::fds)), "", "", "");
    row("of them UDP sockets", fmt("%.0f", med(&Round::sockets)), "", "", "<= KVPRTOBJ_NET_MAX_SOCKETS (256)");
    return 0;
}
