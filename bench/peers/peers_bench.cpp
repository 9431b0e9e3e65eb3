// The full poll of one printer through the two protocols people use for the
// job today, side by side with ours in one run (bench/peers/run starts the
// servers, pinned to the cores of the placement, and this client):
//   ours  kvprtsimd: the device status, the toner and the eight alert
//         summaries (kvtest::FullPoll, ten requests) through KVPrtObjBatch,
//         pipelined on one connection
//   ipp   ippeveprinter: a libcups client on one connection asking
//         Get-Printer-Attributes for printer-state, printer-state-reasons and
//         printer-supply
//   snmp  snmpd: a net-snmp client on one session asking one GET for
//         hrPrinterStatus, hrPrinterDetectedErrorState and the level and
//         capacity of the first supply
// For each: the latency of a poll, and the CPU time of the client (every
// thread of this process) and of the server (every thread of its process,
// from /proc/PID/task/*/schedstat) per poll; medians of the repetitions and
// our ratios to each peer.
//
//   kvbench_peers --ours URI PID --ipp URI PID --snmp HOST:PORT PID [Google Benchmark options]
#include <benchmark/benchmark.h>
#include <cups/cups.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "full_poll.h"
#include "kvprtobj/kvprtobj.h"

namespace {

struct Server {
    std::string address;
    pid_t pid = 0;
};
std::map<std::string, Server> gServers;   // "ours", "ipp", "snmp"

// CPU time in nanoseconds of every thread of process `pid`.
double serverCpuNs(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
            double onCpu = 0;
            if (in >> onCpu) total += onCpu;
        }
        ::closedir(dir);
    }
    return total;
}

double clientCpuNs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Runs `poll` once per iteration and reports the CPU time of both sides per poll.
template <class Poll>
void measure(benchmark::State& s, pid_t server, Poll poll) {
    double client0 = clientCpuNs(), server0 = serverCpuNs(server);
    for (auto _ : s)
        if (!poll()) {
            s.SkipWithError("poll failed");
            return;
        }
    s.counters["client_cpu_ns"] = benchmark::Counter(clientCpuNs() - client0, benchmark::Counter::kAvgIterations);
    s.counters["server_cpu_ns"] =
        benchmark::Counter(serverCpuNs(server) - server0, benchmark::Counter::kAvgIterations);
}

void ours(benchmark::State& s) {
    const Server& server = gServers["ours"];
    unsigned short handle = 0;
    if (BceOpenPrinter(server.address.c_str(), &handle) != 0) {
        s.SkipWithError(BceLastOpenError());
        return;
    }
    {
        KVPrtObj printer(handle, KVPrtObj::PRINTER_TYPE_0, 0);
        printer.setBidi(1);
        kvtest::FullPoll poll;
        KVPrtObjBatch batch(printer);
        poll.addTo(batch);
        measure(s, server.pid, [&] {
            batch.run();
            poll.takeResults(batch);
            return poll.results == decltype(poll.results){};
        });
    }
    BceClosePrinter(handle);
}

void ipp(benchmark::State& s) {
    const Server& server = gServers["ipp"];
    char scheme[32], user[256], host[256], resource[256];
    int port = 0;
    httpSeparateURI(HTTP_URI_CODING_ALL, server.address.c_str(), scheme, sizeof scheme, user, sizeof user, host,
                    sizeof host, &port, resource, sizeof resource);
    http_t* http = httpConnect2(host, port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (http == nullptr) {
        s.SkipWithError("cannot connect to ippeveprinter");
        return;
    }
    static const char* const kAttributes[] = {"printer-state", "printer-state-reasons", "printer-supply"};
    measure(s, server.pid, [&] {
        ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.address.c_str());
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kAttributes);
        ipp_t* response = cupsDoRequest(http, request, resource);   // keeps the connection
        bool ok = response && ippGetStatusCode(response) == IPP_STATUS_OK &&
                  ippFindAttribute(response, "printer-state", IPP_TAG_ENUM) &&
                  ippFindAttribute(response, "printer-supply", IPP_TAG_ZERO);
        ippDelete(response);
        return ok;
    });
    httpClose(http);
}

void snmp(benchmark::State& s) {
    const Server& server = gServers["snmp"];
    netsnmp_session settings;
    snmp_sess_init(&settings);
    std::string peer = server.address, community = "public";
    settings.peername = peer.data();
    settings.version = SNMP_VERSION_2c;
    settings.community = reinterpret_cast<u_char*>(community.data());
    settings.community_len = community.size();
    void* session = snmp_sess_open(&settings);
    if (session == nullptr) {
        s.SkipWithError("cannot open an SNMP session");
        return;
    }
    // hrPrinterStatus.1, hrPrinterDetectedErrorState.1, prtMarkerSuppliesLevel.1.1, prtMarkerSuppliesMaxCapacity.1.1
    static const std::vector<oid> kObjects[] = {{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1},
                                                {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1},
                                                {1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 9, 1, 1},
                                                {1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 8, 1, 1}};
    measure(s, server.pid, [&] {
        netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
        for (const auto& object : kObjects) snmp_add_null_var(request, object.data(), object.size());
        netsnmp_pdu* response = nullptr;
        bool ok = snmp_sess_synch_response(session, request, &response) == STAT_SUCCESS && response &&
                  response->errstat == SNMP_ERR_NOERROR;
        int values = 0;
        for (netsnmp_variable_list* v = ok ? response->variables : nullptr; v; v = v->next_variable)
            values += v->type == ASN_INTEGER || v->type == ASN_OCTET_STR;
        if (response) snmp_free_pdu(response);
        return ok && values == 4;
    });
    snmp_sess_close(session);
}

// Prints each protocol's medians and our ratios to each peer.
class PeersReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                Figures& f = m_figures[run.run_name.function_name];
                f.latencyNs = run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMicrosecond ? 1e3 : 1.0);
                f.clientNs = run.counters.at("client_cpu_ns");
                f.serverNs = run.counters.at("server_cpu_ns");
            }
        ConsoleReporter::ReportRuns(runs);
    }

    void printTable() const {
        std::printf("\n%-12s %12s %14s %14s %14s\n", "per poll", "latency", "client CPU", "server CPU", "CPU, both");
        for (const auto& [name, f] : m_figures)
            std::printf("%-12s %9.1f us %11.1f us %11.1f us %11.1f us\n", name.c_str(), f.latencyNs / 1e3,
                        f.clientNs / 1e3, f.serverNs / 1e3, (f.clientNs + f.serverNs) / 1e3);
        auto us = m_figures.find("peers/ours");
        if (us == m_figures.end()) return;
        const Figures& o = us->second;
        for (const auto& [name, f] : m_figures) {
            if (name == "peers/ours") continue;
            std::printf("ours / %-5s %11.2fx %13.2fx %13.2fx %13.2fx\n", name.substr(6).c_str(), o.latencyNs / f.latencyNs,
                        o.clientNs / f.clientNs, o.serverNs / f.serverNs,
                        (o.clientNs + o.serverNs) / (f.clientNs + f.serverNs));
        }
    }

private:
    struct Figures {
        double latencyNs = 0, clientNs = 0, serverNs = 0;
    };
    std::map<std::string, Figures> m_figures;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i + 2 < argc; i += 3) {
        std::string name = argv[i];
        if (name.rfind("--", 0) != 0) break;
        gServers[name.substr(2)] = Server{argv[i + 1], static_cast<pid_t>(std::atoi(argv[i + 2]))};
    }
    for (const char* name : {"ours", "ipp", "snmp"})
        if (!gServers.count(name)) {
            std::fprintf(stderr, "usage: kvbench_peers --ours URI PID --ipp URI PID --snmp HOST:PORT PID\n");
            return 2;
        }
    // net-snmp without its configuration files and MIB modules: numeric OIDs only.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    ::setenv("MIBS", "", 1);
    init_snmp("kvbench_peers");

    benchmark::RegisterBenchmark("peers/ours", ours)->UseRealTime();
    benchmark::RegisterBenchmark("peers/ipp", ipp)->UseRealTime();
    benchmark::RegisterBenchmark("peers/snmp", snmp)->UseRealTime();
    PeersReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printTable();
    benchmark::Shutdown();
    return 0;
}
