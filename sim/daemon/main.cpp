// kvprtsimd: serves simulated printers over the engine's TCP protocol.
//
//   kvprtsimd [--listen HOST:PORT] [--port-file FILE] [--profile FILE]... [--copies N]
//             [--workers N] [--delay-ms MS] [--drop-every N] [--garbage-every N]
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

#include <cstdio>
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

    std::vector<kvsimd::ServedPrinter> printers;
    if (profiles.empty()) profiles.push_back("");
    for (const std::string& path : profiles) {
        for (unsigned k = 0; k < copies; ++k) {
            std::string error;
            auto printer = path.empty() ? kvsim::SimPrinter::fromDefault() : kvsim::SimPrinter::fromFile(path, &error);
            if (!printer) {
                std::fprintf(stderr, "kvprtsimd: %s\n", error.c_str());
                return kExitUsage;
            }
            std::string name = printer->name();
            if (copies > 1) name += "-" + std::to_string(k);
            printers.push_back({name, std::move(printer)});
        }
    }

    // Buffers of 128 KiB and more (big frames) are mapped on their own, so that
    // their memory goes back to the system when freed; without a fixed
    // threshold glibc raises it after the first such free and keeps them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    kvsimd::PjlServer pjl(printers.front().printer, faults);
    kvsimd::Server server(std::move(printers), options);
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
