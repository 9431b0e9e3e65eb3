// kvprtd: watches a fleet of printers, keeps their history, exports their
// metrics (README, "kvprtd").
//
//   kvprtd --fleet FLEET.toml [--listen 127.0.0.1:9180] [--db PATH] [--shard K/N]
//          [--retention-days N] [--sample-interval S] [--port-file FILE] [--expose-jobs] [--allowed-host NAME ...]
//          [--snmp-traps [ADDRESS:]PORT]
//
// Exit status: 0 after SIGTERM or SIGINT, 1 when it cannot start (fleet file,
// database, address), 2 for a usage error (kvprtd(8)). SIGHUP reads the fleet
// file again.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>
#include <kvprtobj/kvprtobj.h>

#include "command.h"
#include "db_lock.h"
#include "fleet.h"
#include "http.h"
#include "log.h"
#include "program.h"
#include "times.h"
#include "wire/socket.h"

using namespace kvprtd;
using kvprogram::kExitFailed;
using kvprogram::kExitOk;
using kvprogram::kExitUsage;

namespace {

// The database's default place: systemd's state directory, else
// $XDG_STATE_HOME/kvprtd, else ~/.local/state/kvprtd.
std::string defaultDatabase() {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
        std::string first(state);
        return first.substr(0, first.find(':')) + "/kvprtd.db";
    }
    std::filesystem::path dir;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        dir = std::filesystem::path(xdg) / "kvprtd";
    else if (const char* home = std::getenv("HOME"); home && *home)
        dir = std::filesystem::path(home) / ".local/state/kvprtd";
    else
        dir = ".";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return (dir / "kvprtd.db").string();
}

// The UDP endpoint of "PORT" (every IPv4 address), "IPV4:PORT" or "[IPV6]:PORT", PORT from 1 to
// 65535; false when malformed.
bool trapEndpoint(const std::string& text, sockaddr_storage* endpoint) {
    std::string host = "0.0.0.0", port = text;
    if (text.find(':') != std::string::npos && !kvwire::splitHostPort(text, &host, &port)) return false;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    const long number = std::stol(port);
    if (number < 1 || number > 65535) return false;
    *endpoint = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(endpoint);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(endpoint);
    if (text.front() == '[') {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(number));
        return ::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1;
    }
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(number));
    return ::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1;
}

// Why traps cannot be received at `endpoint` (taken, or a privileged port), or empty: the backend
// binds it only when its first printer opens, and would then say nothing.
std::string trapBindError(const sockaddr_storage& endpoint) {
    const int fd = ::socket(endpoint.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const socklen_t size = endpoint.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&endpoint), size) == 0;
    const std::string why = bound ? "" : std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return why;
}

// A DNS name: labels of letters, digits and '-', dot-separated, at most 253 characters.
bool validHostName(const std::string& name) {
    if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.') return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') return false;
    return name.find("..") == std::string::npos;
}

// The most printers one instance watches: each holds a connection and a
// descriptor, and the engine's handles end at 65,535. More go to shards.
constexpr size_t kMaxPrinters = 10000;

// This instance's share of `fleet`, or nothing with `error` when it is too large.
std::optional<Fleet> ownShare(Fleet fleet, const Shard& shard, const std::string& path, std::string* error) {
    std::erase_if(fleet.printers, [&](const PrinterConfig& p) { return !shard.owns(p.name); });
    if (fleet.printers.size() <= kMaxPrinters) return fleet;
    *error = path + ": " + std::to_string(fleet.printers.size()) + " printers for this instance, at most " +
             std::to_string(kMaxPrinters) + ": split the fleet over instances with --shard K/N";
    return std::nullopt;
}

// Raises the soft limit of open descriptors to the hard one: a printer
// holds a socket, and the default soft limit of 1,024 ends a fleet early.
void raiseDescriptorLimit() {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur >= files.rlim_max) return;
    files.rlim_cur = files.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0) logLine(std::string("cannot raise the descriptor limit: ") + std::strerror(errno));
}

// --hash-password: the hash of the first line of standard input (at most 72
// bytes count in bcrypt), for basic_auth_users.
int printPasswordHash() {
    std::string password;
    if (!std::getline(std::cin, password) || password.empty() || password.size() > 72) {
        logLine("--hash-password: expected a password of 1 to 72 bytes on standard input");
        return kExitUsage;
    }
    const std::string hash = bcryptHash(password);
    if (hash.empty()) {
        logLine("--hash-password: this system's crypt() cannot make a bcrypt hash");
        return kExitFailed;
    }
    std::printf("%s\n", hash.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::string fleetPath, listen = "127.0.0.1:9180", dbPath, shardText = "0/1", portFile, snmpTraps, webConfigPath;
    bool hashPassword = false;
    std::vector<std::string> allowedHosts;
    int retentionDays = 90;
    MonitorOptions options;
    CLI::App app{"kvprtd: watches a fleet of printers, keeps their history and exports their metrics", "kvprtd"};
    app.set_version_flag("--version", [] { return kvprogram::versionText("kvprtd"); });
    auto* fleetOption = app.add_option("--fleet", fleetPath, "The fleet file (TOML); SIGHUP reads it again");
    app.add_flag("--hash-password", hashPassword,
                 "Print a bcrypt hash of the password read from standard input, for the web configuration")
        ->excludes(fleetOption);
    app.add_option("--listen", listen, "HOST:PORT of the HTTP server ([::1]:PORT for IPv6; port 0 picks one)")
        ->capture_default_str();
    app.add_option("--db", dbPath,
                   "The history database (default: $STATE_DIRECTORY/kvprtd.db, else $XDG_STATE_HOME/kvprtd/kvprtd.db, "
                   "else ~/.local/state/kvprtd/kvprtd.db)");
    app.add_option("--shard", shardText, "Watch only the printers whose name hashes to K of N (K/N, K from 0)")
        ->capture_default_str();
    app.add_option("--retention-days", retentionDays, "Keep samples and events this many days")
        ->check(CLI::Range(1, 36500))
        ->capture_default_str();
    app.add_option("--sample-interval", options.sampleIntervalS,
                   "Record page counts at most every S seconds (0: every poll); supply levels when they change")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();
    app.add_option("--port-file", portFile, "Write the HTTP port to this file once listening");
    app.add_flag("--expose-jobs", options.exposeJobs,
                 "Keep and serve the names and users of print jobs (left out unless given: they are personal data)");
    app.add_option("--allowed-host", allowedHosts,
                   "A host name clients reach kvprtd by (the Host header; IP addresses and localhost always may)")
        ->check([](const std::string& name) { return validHostName(name) ? "" : "expected a host name"; });
    app.add_option("--web-config", webConfigPath,
                   "TLS and basic authentication (YAML: tls_server_config, basic_auth_users with bcrypt hashes)");
    app.add_option("--snmp-traps", snmpTraps,
                   "Receive SNMP traps on this UDP [ADDRESS:]PORT: a trap from a net:// printer polls it at once");
    if (auto status = kvprogram::parseCommandLine(app, argc, argv, [](const std::string& message) { logLine(message); }))
        return *status;
    if (hashPassword) return printPasswordHash();
    if (fleetPath.empty()) {
        logLine("--fleet is required (kvprtd --help)");
        return kExitUsage;
    }
    std::optional<Shard> shard = parseShard(shardText);
    if (!shard) {
        logLine("--shard: expected K/N with 0 <= K < N <= " + std::to_string(kMaxShards) + ", got " + shardText);
        return kExitUsage;
    }
    std::string host, port;
    if (!kvwire::splitHostPort(listen, &host, &port)) {
        logLine("--listen: expected HOST:PORT or [IPV6]:PORT, got " + listen);
        return kExitUsage;
    }
    if (!snmpTraps.empty()) {
        sockaddr_storage endpoint;
        if (!trapEndpoint(snmpTraps, &endpoint)) {
            logLine("--snmp-traps: expected PORT, IPV4:PORT or [IPV6]:PORT, got " + snmpTraps);
            return kExitUsage;
        }
        if (std::string why = trapBindError(endpoint); !why.empty()) {
            logLine("--snmp-traps: cannot listen on " + snmpTraps + ": " + why);
            return kExitFailed;
        }
        // The net:// backend reads it when its first printer opens.
        ::setenv("KVPRTOBJ_NET_TRAP_LISTEN", snmpTraps.c_str(), 1);
    }

    // Signals are taken by sigwait below; every thread started later inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);   // a file size limit fails the write (the store keeps its events), not kvprtd

    raiseDescriptorLimit();
    std::string error;
    std::optional<WebConfig> web = webConfigPath.empty() ? WebConfig{} : WebConfig::load(webConfigPath, &error);
    if (!web) {
        logLine("--web-config: " + error);
        return kExitFailed;
    }
    std::optional<Fleet> fleet = readFleet(fleetPath, &error);
    std::optional<Fleet> mine = fleet ? ownShare(*fleet, *shard, fleetPath, &error) : std::nullopt;
    if (!mine) {
        logLine(error);
        return kExitFailed;
    }
    if (dbPath.empty()) dbPath = defaultDatabase();
    std::unique_ptr<DatabaseLock> dbLock = DatabaseLock::take(dbPath, &error);
    if (!dbLock) {
        logLine(error);
        return kExitFailed;
    }
    std::unique_ptr<Store> store = Store::open(dbPath, &error);
    if (!store) {
        logLine(error);
        return kExitFailed;
    }
    store->setRetentionDays(retentionDays);

    InitKVPrtObjDll();
    kvprt::setPartialFailureMessages(false);   // failures are kept in the JSON and in the printers' state
    EventHub hub(1024, HttpServer::kMaxEventReaders, HttpServer::kMaxEventReadersPerAddress);
    Monitor monitor(*store, hub, options);
    Service service{monitor, *store, hub, *shard, nowMs()};
    service.setFleetFile({fleetPath, nowMs(), "", 0});
    HttpServer http(service, kvprogram::kVersion, allowedHosts, *web);
    if (!http.bind(host, std::stoi(port), &error)) {
        logLine(error);
        return kExitFailed;
    }
    const std::string address = kvprogram::hostPortText(host, static_cast<unsigned>(http.port()));
    logLine("watching " + std::to_string(mine->printers.size()) + " printers of " + fleetPath + " (shard " +
            std::to_string(shard->index) + "/" + std::to_string(shard->count) + "), database " + dbPath +
            ", HTTP on " + address);
    monitor.start(*mine);
    http.start();
    if (!portFile.empty() && !kvwire::writePortFile(portFile, static_cast<uint16_t>(http.port()))) {
        logLine("cannot write the port file " + portFile);
        return kExitFailed;
    }
    std::printf("kvprtd listening on %s\n", address.c_str());
    std::fflush(stdout);

    for (;;) {
        int signal = 0;
        sigwait(&signals, &signal);
        if (signal != SIGHUP) break;
        std::optional<Fleet> next = readFleet(fleetPath, &error);
        if (next && next->printers.empty() && !next->emptyOnPurpose) {
            error = fleetPath + ": lists no printers (printer = [] says to watch none)";
            next.reset();
        }
        if (next) next = ownShare(*next, *shard, fleetPath, &error);
        if (!next) {
            logLine("SIGHUP: the fleet file is refused, the fleet goes on as it was: " + error);
            FleetFileState state = service.fleetFile();
            state.reloadError = error;
            state.reloadErrorAt = nowMs();
            service.setFleetFile(state);
            continue;
        }
        monitor.reload(*next);
        service.setFleetFile({fleetPath, nowMs(), "", 0});
        logLine("SIGHUP: " + fleetPath + " read again");
    }
    logLine("stopping");
    http.stop();
    monitor.stop();
    return kExitOk;
}
