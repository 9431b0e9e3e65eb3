// kvprtsimd as a child process for tests: started on an ephemeral port of
// 127.0.0.1 (or a given one, to restart on the same port), stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

// A TCP port of 127.0.0.1 that nobody listens on now, for a program that
// must be given one.
int freePort();

class SimDaemon {
public:
    // How the daemon is started, beyond its arguments.
    struct Launch {
        std::vector<std::string> prefix;   // a command that runs it, such as setpriv to another user
        std::string host = "127.0.0.1";    // the address it listens on
        std::string stderrPath;            // where its standard error goes; empty: this process's
        std::string folder;                // where it runs; empty: this process's
    };

    // Starts `program` with `args` plus --listen and --port-file, and waits
    // until it listens. Throws std::runtime_error when it does not start.
    SimDaemon(std::string program, std::vector<std::string> args);
    SimDaemon(std::string program, std::vector<std::string> args, Launch launch);
    ~SimDaemon();
    SimDaemon(const SimDaemon&) = delete;
    SimDaemon& operator=(const SimDaemon&) = delete;

    uint16_t port() const { return m_port; }
    // What it wrote on standard output: its banner, once it listens (waits
    // up to 5 s for it).
    std::string output() const;
    // tcp://127.0.0.1:PORT[/printer][?query]
    std::string uri(const std::string& printer = "", const std::string& query = "") const;

    // Sends SIGTERM and waits; returns the exit status (-1 if it did not exit normally).
    int stop();
    // Kills it with SIGKILL, as a daemon that dies, and waits for it.
    void kill();
    // Starts again on the same port with the same arguments.
    void restart();
    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // A field of the daemon's /proc/PID/status ("Threads", "VmRSS" in kB), or -1.
    long status(const std::string& field) const;

private:
    void start(uint16_t port);

    std::string m_program;
    std::vector<std::string> m_args;
    Launch m_launch;
    std::string m_portFile;
    std::string m_outFile;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace kvtest
