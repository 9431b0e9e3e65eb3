// kvprtsimd: serves simulated printers over the engine's TCP protocol.
//
//   kvprtsimd [--listen HOST:PORT] [--port-file FILE] [--profile FILE]... [--copies N]
//             [--faulty N] [--profile-for INDEX:FILE]... [--workers N] [--delay-ms MS] [--drop-every N] [--garbage-every N]
//             [--raise-alerts-ms MS] [--silent N] [--max-connections N]
//             [--greeting-timeout-ms MS] [--idle-timeout-ms MS]
//             [--max-queued-bytes N] [--max-total-queued-bytes N]
//             [--pjl-listen HOST:PORT] [--pjl-fault KIND]...
//
// Port 0 picks a free port; the daemon announces it on standard output
// ("kvprtsimd listening on 127.0.0.1:PORT", an IPv6 address in brackets) and
// writes it to the port file. With --pjl-listen, printer 0 answers PJL on
// that port too ("  PJL on 127.0.0.1:PORT"). SIGTERM or SIGINT stop it cleanly (exit status
// 0); it cannot serve: 1; a usage error or a bad profile: 2 (kvprtsimd(1)).
// Every message on standard error starts with "kvprtsimd: ".
#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "daemon/pjl_server.h"
#include "daemon/server.h"
#include "program.h"
#include "wire/socket.h"

using kvprogram::kExitFailed;
using kvprogram::kExitUsage;

namespace {

// The printers the options ask for: `copies` of each profile in turn (an
// empty path: the built-in one), the last `faulty` copies of each with the
// built-in faults laid over their profile, and printer INDEX of each
// --profile-for INDEX:FILE of FILE alone. Nothing, the reason said on
// standard error, when a value or a profile is refused.
std::optional<std::vector<kvsimd::ServedPrinter>> makePrinters(const std::vector<std::string>& profiles,
                                                               unsigned copies, unsigned faulty,
                                                               const std::vector<std::string>& profilesFor) {
    auto refuse = [](const std::string& message) {
        std::fprintf(stderr, "kvprtsimd: %s\n", message.c_str());
        return std::nullopt;
    };
    if (faulty > copies)
        return refuse("--faulty " + std::to_string(faulty) + " is more than the " + std::to_string(copies) +
                      " copies of each profile (--copies)");
    const size_t total = profiles.size() * copies;
    std::map<size_t, std::string> own;   // printer index -> its profile file
    for (const std::string& given : profilesFor) {
        const size_t colon = given.find(':');
        size_t index = 0;
        const char* end = given.data() + (colon == std::string::npos ? given.size() : colon);
        auto [stop, ec] = std::from_chars(given.data(), end, index);
        if (colon == std::string::npos || colon + 1 == given.size() || ec != std::errc() || stop != end)
            return refuse("--profile-for expects INDEX:FILE, got " + given);
        if (index >= total)
            return refuse("--profile-for " + given + ": there is no printer " + std::to_string(index) + " (" +
                          std::to_string(total) + " printers, from 0)");
        if (!own.emplace(index, given.substr(colon + 1)).second)
            return refuse("--profile-for: printer " + std::to_string(index) + " is given twice");
    }

    std::vector<kvsimd::ServedPrinter> printers;
    for (const std::string& path : profiles) {
        for (unsigned k = 0; k < copies; ++k) {
            std::string error;
            std::shared_ptr<kvsim::SimPrinter> printer;
            if (auto file = own.find(printers.size()); file != own.end()) {
                printer = kvsim::SimPrinter::fromFile(file->second, &error);
                if (!printer) error = "--profile-for " + std::to_string(file->first) + ": " + error;
            } else {
                std::string_view overlay = k >= copies - faulty ? kvsim::SimPrinter::faultyOverlayJson() : "";
                printer = path.empty() ? kvsim::SimPrinter::fromJson(kvsim::SimPrinter::defaultProfileJson(), &error, overlay)
                                       : kvsim::SimPrinter::fromFile(path, &error, overlay);
            }
            if (!printer) return refuse(error);
            std::string name = printer->name();
            if (copies > 1) name += "-" + std::to_string(k);
            printers.push_back({name, std::move(printer)});
        }
    }
    return printers;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kvprtsimd: simulated printers served over the engine's TCP protocol (tcp://HOST:PORT/PRINTER)",
                 "kvprtsimd"};
    app.set_version_flag("--version", [] { return kvprogram::versionText("kvprtsimd"); });
    std::string listen = "127.0.0.1:0";
    std::string portFile;
    std::vector<std::string> profiles;
    unsigned copies = 1;
    kvsimd::ServerOptions options;
    app.add_option("--listen", listen, "HOST:PORT to listen on ([::1]:PORT for IPv6); port 0 picks a free port")->capture_default_str();
    app.add_option("--port-file", portFile, "write the port listened on to this file");
    app.add_option("--profile", profiles, "JSON profile of a printer; repeat for several printers (default: the built-in profile)");
    app.add_option("--copies", copies, "serve N printers of each profile")->check(CLI::Range(1u, 10000u))->capture_default_str();
    unsigned faulty = 0;
    std::vector<std::string> profilesFor;
    app.add_option("--faulty", faulty,
                   "the last N copies of each profile are troubled: a paper jam, toner low, trays empty... laid over "
                   "their profile (0 to --copies)")
        ->capture_default_str();
    app.add_option("--profile-for", profilesFor,
                   "INDEX:FILE, printer INDEX (from 0) of FILE, a JSON profile, instead; repeat for several");
    app.add_option("--workers", options.workers, "threads that carry out delayed requests (started with --delay-ms only)")->check(CLI::Range(1u, 256u))->capture_default_str();
    app.add_option("--delay-ms", options.delayMs, "delay every reply by MS milliseconds (fault test)");
    app.add_option("--drop-every", options.dropEvery, "close the connection of every Nth request unanswered (fault test)");
    app.add_option("--garbage-every", options.garbageEvery, "answer every Nth request with bytes that are no frame (fault test)");
    app.add_option("--raise-alerts-ms", options.raiseAlertsMs, "raise each printer's profile alerts in turn every MS milliseconds");
    app.add_option("--silent", options.silent, "printers 0..N-1 answer the greeting but never a request (benchmark of clients)");
    app.add_option("--max-connections", options.maxConnections, "connections at once; one more is closed once accepted")
        ->check(CLI::Range(1u, 1000000u))->capture_default_str();
    app.add_option("--greeting-timeout-ms", options.greetingTimeoutMs, "close a connection not greeted within MS (0: never)")
        ->capture_default_str();
    app.add_option("--idle-timeout-ms", options.idleTimeoutMs, "close a connection that sends no frame for MS (0: never)")
        ->capture_default_str();
    app.add_option("--max-queued-bytes", options.maxQueuedBytes,
                   "bytes one connection may have queued (unfinished frame, requests, replies); beyond, it is closed")
        ->check(CLI::Range(size_t{4096}, size_t{1} << 40))->capture_default_str();
    app.add_option("--max-total-queued-bytes", options.maxTotalQueuedBytes,
                   "bytes all connections together may have queued; the connection that would go beyond is closed")
        ->check(CLI::Range(size_t{4096}, size_t{1} << 40))->capture_default_str();
    std::string pjlListen;
    std::vector<std::string> pjlFaults;
    app.add_option("--pjl-listen", pjlListen, "HOST:PORT where printer 0 answers PJL, as on a print port");
    app.add_option("--pjl-fault", pjlFaults, "a fault of the PJL port (fault test); repeat for several")
        ->check(CLI::IsMember({"silent", "endless", "not-pjl", "one-connection"}));
    if (auto status = kvprogram::parseCommandLine(app, argc, argv, [](const std::string& message) {
            std::fprintf(stderr, "kvprtsimd: %s\n", message.c_str());
        }))
        return *status;

    if (!kvwire::splitHostPort(listen, &options.host, &options.port)) {
        std::fprintf(stderr, "kvprtsimd: --listen expects HOST:PORT or [IPV6]:PORT, got %s\n", listen.c_str());
        return kExitUsage;
    }

    std::string pjlHost, pjlPort;
    if (!pjlListen.empty() && !kvwire::splitHostPort(pjlListen, &pjlHost, &pjlPort)) {
        std::fprintf(stderr, "kvprtsimd: --pjl-listen expects HOST:PORT or [IPV6]:PORT, got %s\n", pjlListen.c_str());
        return kExitUsage;
    }
    kvsimd::PjlFaults faults;
    for (const std::string& f : pjlFaults) {
        faults.silent |= f == "silent";
        faults.endless |= f == "endless";
        faults.notPjl |= f == "not-pjl";
        faults.oneConnection |= f == "one-connection";
    }

    // Signals are taken by sigwait below; every thread started later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (profiles.empty()) profiles.push_back("");
    auto printers = makePrinters(profiles, copies, faulty, profilesFor);
    if (!printers) return kExitUsage;

    // Buffers of 128 KiB and more (big frames) are mapped on their own, so that
    // their memory goes back to the system when freed; without a fixed
    // threshold glibc raises it after the first such free and keeps them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    kvsimd::PjlServer pjl(printers->front().printer, faults);
    kvsimd::Server server(std::move(*printers), options);
    std::string error;
    if (!server.listen(&error) || (!pjlListen.empty() && !pjl.listen(pjlHost, pjlPort, &error))) {
        std::fprintf(stderr, "kvprtsimd: %s\n", error.c_str());
        return kExitFailed;
    }
    const std::string address = kvprogram::hostPortText(options.host, server.port());
    const std::string pjlAddress = kvprogram::hostPortText(pjlHost, pjl.port());
    auto warnBeyondLoopback = [](const std::string& where) {
        std::fprintf(stderr,
                     "kvprtsimd: warning: %s is not a loopback address: any peer that reaches it may change the "
                     "printers' state\n",
                     where.c_str());
    };
    if (!server.listensOnLoopback()) warnBeyondLoopback(address);
    if (!pjlListen.empty() && !pjl.listensOnLoopback()) warnBeyondLoopback(pjlAddress);
    // Serving before the port is announced: a client that reads it is answered.
    try {
        server.start();
        if (!pjlListen.empty()) pjl.start();
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "kvprtsimd: cannot start: %s\n", e.what());
        return kExitFailed;
    }
    if (!portFile.empty() && !kvwire::writePortFile(portFile, server.port())) {
        std::fprintf(stderr, "kvprtsimd: cannot write the port file %s\n", portFile.c_str());
        return kExitFailed;
    }
    std::printf("kvprtsimd listening on %s\n", address.c_str());
    for (size_t i = 0; i < server.printers().size(); ++i)
        std::printf("  printer %zu: %s\n", i, server.printers()[i].name.c_str());
    if (!pjlListen.empty()) std::printf("  PJL on %s\n", pjlAddress.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    pjl.stop();
    server.stop();
    return kvprogram::kExitOk;
}
