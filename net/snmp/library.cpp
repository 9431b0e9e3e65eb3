#include "library.h"

#include <openssl/crypto.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

namespace kvnet::snmp {
namespace {

// Where net-snmp's persistent and configuration files would live: a path
// under a device node, so that nothing can ever be created or read there.
constexpr const char* kNowhere = "/dev/null";

struct LogRing {
    std::mutex lock;
    std::deque<std::string> lines;
};

LogRing& logRing() {
    static auto* ring = new LogRing;   // never destroyed: the loop outlives static destruction
    return *ring;
}

bool traceToStderr() {
    const char* env = std::getenv("KVPRTOBJ_TRACE");
    return env != nullptr && *env != '\0' && std::strcmp(env, "0") != 0;
}

// net-snmp's logging callback (SNMP_CALLBACK_LOGGING).
int keepLogLine(int, int, void* serverArgument, void*) {
    const auto* message = static_cast<const snmp_log_message*>(serverArgument);
    if (message == nullptr || message->msg == nullptr) return 1;
    std::string line(message->msg, strnlen(message->msg, kLogLineBytes));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) return 1;
    static const bool toStderr = traceToStderr();
    if (toStderr) std::fprintf(stderr, "kvprtnet snmp: %s\n", line.c_str());
    LogRing& ring = logRing();
    std::lock_guard guard(ring.lock);
    if (ring.lines.size() == kLogLines) ring.lines.pop_front();
    ring.lines.push_back(std::move(line));
    return 1;
}

void setUp() {
    // Logging first: init_snmp logs, and without a handler net-snmp writes to stderr.
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, keepLogLine, nullptr);
    snmp_enable_calllog();

    for (int option : {NETSNMP_DS_LIB_DONT_READ_CONFIGS, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD,
                       NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES,
                       NETSNMP_DS_LIB_DONT_PERSIST_STATE, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG,
                       NETSNMP_DS_LIB_NO_TOKEN_WARNINGS,
                       // convert.cpp's buildDatagram expects messages built back to front
                       NETSNMP_DS_LIB_REVERSE_ENCODE})
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, option, 1);
    // The TLS transports' certificate index is kept in the persistent folder,
    // which net-snmp creates when missing; MIB folders are searched at init.
    for (int option : {NETSNMP_DS_LIB_PERSISTENT_DIR, NETSNMP_DS_LIB_CONFIGURATION_DIR, NETSNMP_DS_LIB_MIBDIRS})
        netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, option, kNowhere);
    // An empty MIB module list, as "mibs :" in snmp.conf ($MIBS would still
    // name modules, but the MIB folder above holds none). net-snmp copies it.
    static char noModules[] = "mibs :";
    netsnmp_config_remember(noModules);

    // OpenSSL (net-snmp's SNMPv3 keys) must not clean up at exit under the
    // loop's feet: the loop is stopped by its own exit handler, later.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    init_snmp("kvprtnet");
}

}  // namespace

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, setUp);
}

std::vector<std::string> recentLog() {
    LogRing& ring = logRing();
    std::lock_guard guard(ring.lock);
    return {ring.lines.begin(), ring.lines.end()};
}

}  // namespace kvnet::snmp
