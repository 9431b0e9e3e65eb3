// kvprtsimd (or a daemon of the same options) as a child process: started on an
// ephemeral port of 127.0.0.1 (the same one on a restart), stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "kvprtobj/zorbce.h"
#include "temp_dir.h"

namespace kvtest {

int freePort();   // a TCP port of 127.0.0.1 that nobody listens on now
// A field of /proc/PID/status ("Threads", "VmRSS" in kB, "Uid" the real one), or -1.
long procStatus(const std::string& procFolder, const std::string& field);
// The data of every variable-event alert announced on printer `handle` (waiting up to 2 s
// for the first): a printer announces an alert before its reply to the request that raised it.
std::vector<ByteVec> drainAlerts(unsigned short handle);

// A printer handle opened on a URI (rc: the open's result), closed at the end when it opened.
struct OpenedPrinter {
    explicit OpenedPrinter(const std::string& uri) : rc(BceOpenPrinter(uri.c_str(), &handle)) {}
    ~OpenedPrinter() {
        if (rc == 0) BceClosePrinter(handle);
    }
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;
    unsigned short handle = 0;   // before rc: set by the open that initialises rc
    long rc;
};

class SimDaemon {
public:
    struct Launch {
        std::vector<std::string> prefix;   // a command that runs it, such as setpriv to another user
        std::string host = "127.0.0.1";    // the address it listens on
        std::string stderrPath;            // empty: this process's standard error
        std::string folder;                // where it runs; empty: this process's
    };

    // Starts `program` with `args`, --listen and --port-file; throws when it does not listen.
    SimDaemon(std::string program, std::vector<std::string> args)
        : SimDaemon(std::move(program), std::move(args), Launch{}) {}
    SimDaemon(std::string program, std::vector<std::string> args, Launch launch);
    ~SimDaemon() { stop(); }

    uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    std::string output() const;   // its standard output once its banner line is there (waits up to 5 s)
    // tcp://127.0.0.1:PORT[/printer][?query]
    std::string uri(const std::string& printer = "", const std::string& query = "") const;
    long status(const std::string& field) const { return procStatus("/proc/" + std::to_string(m_pid), field); }

    int stop() { return end(SIGTERM); }   // its exit status, -1 if it did not exit normally
    void kill() { end(SIGKILL); }         // as a daemon that dies
    void restart() { stop(); start(m_port); }

private:
    void start(uint16_t port);
    int end(int signal);

    std::string m_program;
    std::vector<std::string> m_args;
    Launch m_launch;
    TempDir m_dir;   // its port file and standard output
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};

// How the rig runs a program whose own arguments make it listen on `port`: a shell writes `port`
// to the rig's port file, drops --listen and --port-file.
inline SimDaemon::Launch launchOnPort(int port, const std::string& stderrPath = "") {
    const std::string shell = "echo " + std::to_string(port) + " >\"$4\"; shift 4; exec \"$0\" \"$@\"";
    return {{"/bin/sh", "-c", shell}, "127.0.0.1", stderrPath, ""};
}

// `program` (a path, or a name on PATH) with `args` that make it listen on `port` (launchOnPort).
inline SimDaemon startOnPort(const std::string& program, std::vector<std::string> args, int port,
                             const std::string& stderrPath = "") {
    return SimDaemon(program, std::move(args), launchOnPort(port, stderrPath));
}

}  // namespace kvtest
