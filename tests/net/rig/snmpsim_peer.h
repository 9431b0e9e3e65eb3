// Stand-ins for network printers' SNMP agents:
//   SnmpSim    snmpsimd (Debian's snmpsim) as a child process: an SNMP agent on
//              a free UDP port of 127.0.0.1 serving the project's own .snmprec
//              recordings, each under the community of its file name
//              (healthy.snmprec: community "healthy"). As root it drops to the
//              user nobody, as snmpsim insists.
//   FakeAgent  a UDP socket on the backend's loop answering each datagram with
//              what a test makes of it (nothing, broken BER, tooBig ...).
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "snmp/mib.h"
#include "temp_dir.h"

namespace kvtest {

// `program` is on $PATH.
bool installed(const std::string& program);
uint16_t freeUdpPort();   // of 127.0.0.1, unused now
// Runs a shell command; its exit status, with its standard output and error in `output` when given.
int run(const std::string& command, std::string* output = nullptr);
// Starts `args` (args[0] found on $PATH) with `extraEnv` added, its output to `logPath`; throws when it cannot.
pid_t spawn(const std::vector<std::string>& args, const std::string& logPath, const std::vector<std::string>& extraEnv = {});
int stop(pid_t pid, int signal = SIGTERM);   // signals a child and waits: its exit status, -1 if it did not exit
int exitStatus(int waitStatus);             // of a wait status: -1 if it did not exit

class SnmpSim {
public:
    // Serves the recordings given: files, or folders whose *.snmprec it
    // serves. Throws when snmpsimd does not come up.
    explicit SnmpSim(const std::vector<std::string>& recordings);
    // The same on each of `addresses` (of the loopback network: 127.0.0.2 ...)
    // at `port`; with a `community`, the one recording given is served under it.
    SnmpSim(const std::vector<std::string>& recordings, const std::string& community,
            const std::vector<std::string>& addresses, uint16_t port);
    ~SnmpSim();
    SnmpSim(const SnmpSim&) = delete;
    SnmpSim& operator=(const SnmpSim&) = delete;

    uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }   // snmpsimd's
    // This agent with `community`, `version` and a 2 s time-out.
    kvnet::NetOptions options(const std::string& community, kvnet::SnmpVersion version = kvnet::SnmpVersion::V2c) const;
    kvnet::NetOptions withUsm(const kvnet::Credentials& credentials) const;   // SNMPv3
    // net://127.0.0.1?protocols=snmp&snmp-port=PORT&community=COMMUNITY&timeout=2000[&MORE]
    std::string uri(const std::string& community, const std::string& more = "") const;

private:
    TempDir m_dir;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};

class FakeAgent {
public:
    // What to send back for a request datagram (nothing when empty); runs on the loop.
    using Answer = std::function<std::string(const std::string& request)>;
    explicit FakeAgent(Answer answer);
    ~FakeAgent();
    uint16_t port() const;
    size_t requests() const;
    kvnet::NetOptions options() const;   // v2c, a 1 s time-out

private:
    struct State;
    std::shared_ptr<State> m_state;
};

void onLoop(const std::function<void()>& work);   // runs `work` on the backend's loop and waits
std::string describe(const kvnet::snmp::VarBind& binding);   // "OID = Type value"

}  // namespace kvtest
