#include "snmpsim_peer.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

// LeakSanitizer: OpenSSL keeps state per thread, freed when a thread ends;
// the backend's loop thread, which uses it for SNMPv3, ends only at exit.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libcrypto.so\n";
}

namespace kvtest {
namespace fs = std::filesystem;

bool installed(const std::string& program) { return run("command -v " + program) == 0; }

int run(const std::string& command, std::string* output) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        if (output) output->append(buffer, n);
    return exitStatus(::pclose(pipe));
}

pid_t spawn(const std::vector<std::string>& args, const std::string& logPath, const std::vector<std::string>& extraEnv) {
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (const std::string& e : extraEnv) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

int exitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int stop(pid_t pid, int signal) {
    if (pid <= 0) return -1;
    ::kill(pid, signal);
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid ? exitStatus(status) : -1;
}

uint16_t freeUdpPort() {
    asio::io_context context;
    return asio::ip::udp::socket(context, {asio::ip::make_address("127.0.0.1"), 0}).local_endpoint().port();
}

SnmpSim::SnmpSim(const std::vector<std::string>& recordings) : SnmpSim(recordings, "", {"127.0.0.1"}, freeUdpPort()) {}

SnmpSim::SnmpSim(const std::vector<std::string>& recordings, const std::string& community,
                 const std::vector<std::string>& addresses, uint16_t port)
    : m_port(port) {
    const fs::path data = m_dir.file("data"), log = m_dir.file("snmpsim.log");
    fs::create_directories(data);
    fs::create_directories(m_dir.file("cache"));
    for (const std::string& place : recordings) {
        if (!fs::is_directory(place)) {
            fs::copy_file(place, data / (community.empty() ? fs::path(place).filename() : fs::path(community + ".snmprec")));
            continue;
        }
        for (const auto& recording : fs::directory_iterator(place))
            if (recording.path().extension() == ".snmprec")
                fs::copy_file(recording.path(), data / recording.path().filename());
    }
    // As root snmpsim runs as nobody, who must read and write here.
    for (const auto& entry : fs::recursive_directory_iterator(m_dir.file(""))) fs::permissions(entry, fs::perms::all);
    fs::permissions(m_dir.file(""), fs::perms::all);
    std::vector<std::string> args = {"snmpsimd", "--data-dir=" + data.string(), "--cache-dir=" + m_dir.file("cache"),
                                     "--logging-method=file:" + log.string(),
                                     "--variation-modules-dir=/usr/share/snmpsim/variation"};
    for (const std::string& address : addresses)
        args.push_back("--agent-udpv4-endpoint=" + address + ":" + std::to_string(m_port));
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        const group* group = nobody ? ::getgrgid(nobody->pw_gid) : nullptr;
        if (group == nullptr) throw std::runtime_error("running as root, and no user nobody to run snmpsimd as");
        args.insert(args.end(), {"--process-user=nobody", std::string("--process-group=") + group->gr_name});
    }
    m_pid = spawn(args, "/dev/null");
    // Its socket is bound once it says it listens: requests wait there until it reads.
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        const std::string said = readText(log);
        size_t listening = 0;
        for (size_t at = 0; (at = said.find("Listening at UDP/IPv4 endpoint", at)) != std::string::npos; ++at) ++listening;
        if (listening >= addresses.size()) return;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("snmpsimd exited: " + readText(log));
        }
    }
    throw std::runtime_error("snmpsimd did not come up within 60 s: " + readText(log));
}

SnmpSim::~SnmpSim() { stop(m_pid, SIGKILL); }

kvnet::NetOptions SnmpSim::options(const std::string& community, kvnet::SnmpVersion version) const {
    kvnet::NetOptions options;
    options.host = "127.0.0.1";
    options.snmpPort = m_port;
    options.snmpVersion = version;
    options.community = community;
    options.timeoutMs = 2000;
    return options;
}

kvnet::NetOptions SnmpSim::withUsm(const kvnet::Credentials& credentials) const {
    kvnet::NetOptions v3 = options("", kvnet::SnmpVersion::V3);
    v3.credentials = credentials;
    return v3;
}

std::string SnmpSim::uri(const std::string& community, const std::string& more) const {
    return "net://127.0.0.1?protocols=snmp&snmp-port=" + std::to_string(m_port) + "&community=" + community +
           "&timeout=2000" + (more.empty() ? "" : "&" + more);
}

}  // namespace kvtest
