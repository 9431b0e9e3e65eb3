// kvprtsimd as a child process for tests: started on an ephemeral port of
// 127.0.0.1 (or a given one, to restart on the same port), stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

class SimDaemon {
public:
    // Starts `program` with `args` plus --listen and --port-file, and waits
    // until it listens. Throws std::runtime_error when it does not start.
    SimDaemon(std::string program, std::vector<std::string> args);
    ~SimDaemon();
    SimDaemon(const SimDaemon&) = delete;
    SimDaemon& operator=(const SimDaemon&) = delete;

    uint16_t port() const { return m_port; }
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

private:
    void start(uint16_t port);

    std::string m_program;
    std::vector<std::string> m_args;
    std::string m_portFile;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace kvtest
