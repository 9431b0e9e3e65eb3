#include "sim_daemon.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "kvprtobj/zorbce.h"

extern char** environ;

namespace kvtest {

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

long procStatus(const std::string& procFolder, const std::string& field) {
    std::ifstream in(procFolder + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.size() > field.size() && line.compare(0, field.size(), field) == 0 && line[field.size()] == ':')
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

std::vector<ByteVec> drainAlerts(unsigned short handle) {
    std::vector<ByteVec> alerts;
    unsigned short id;
    unsigned long family;
    while (BceWaitAlert(handle, alerts.empty() ? 2000 : 0, &id, &family) == 0) {
        EXPECT_EQ(family, 0x5FEu);
        uint8_t data[2048];
        unsigned long length = sizeof data;
        EXPECT_EQ(BceQueryAlerts(0, id, handle, 2, data, &length), 0);
        alerts.emplace_back(data, data + length);
    }
    return alerts;
}

SimDaemon::SimDaemon(std::string program, std::vector<std::string> args, Launch launch)
    : m_program(std::move(program)), m_args(std::move(args)), m_launch(std::move(launch)) {
    std::filesystem::permissions(m_dir.file(""), std::filesystem::perms::all);   // for a daemon run as another user
    start(0);
}

std::string SimDaemon::output() const {
    std::string text;
    for (int tries = 0; tries < 500 && (text = readText(m_dir.file("out"))).find('\n') == std::string::npos; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return text;
}

std::string SimDaemon::uri(const std::string& printer, const std::string& query) const {
    return "tcp://127.0.0.1:" + std::to_string(m_port) + (printer.empty() ? "" : "/" + printer) +
           (query.empty() ? "" : "?" + query);
}

void SimDaemon::start(uint16_t port) {
    const std::string portFile = m_dir.file("port"), outFile = m_dir.file("out");
    ::unlink(portFile.c_str());
    std::vector<std::string> argv = m_launch.prefix;
    argv.insert(argv.end(), {m_program, "--listen", m_launch.host + ":" + std::to_string(port), "--port-file", portFile});
    argv.insert(argv.end(), m_args.begin(), m_args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, path] : {std::pair{STDOUT_FILENO, outFile}, std::pair{STDERR_FILENO, m_launch.stderrPath}})
        if (!path.empty()) posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!m_launch.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, m_launch.folder.c_str());
    int rc = posix_spawn(&m_pid, argv[0].c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + m_program);
    }
    // A daemon of 10,000 printers takes seconds to build them on a busy machine.
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        unsigned value = 0;
        if (std::ifstream in(portFile); in >> value && value > 0) {
            m_port = static_cast<uint16_t>(value);
            return;
        }
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error(m_program + " exited before it listened");
        }
    }
    stop();
    throw std::runtime_error(m_program + " did not listen within 60 s");
}

int SimDaemon::end(int signal) {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, signal);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kvtest
