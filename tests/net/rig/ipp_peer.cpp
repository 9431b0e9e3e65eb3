#include "ipp_peer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim_daemon.h"
#include "snmpsim_peer.h"

namespace kvtest {
namespace {

constexpr auto kStartLimit = std::chrono::seconds(10);

std::string findProgram(const std::string& name) {
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
        std::string path = std::string(dir) + "/" + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

bool listening(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool IppEvePeer::available() {
    return !findProgram("ippeveprinter").empty() && !findProgram("ipptool").empty() &&
           !findProgram("dbus-daemon").empty();
}

IppEvePeer::IppEvePeer(const std::string& attributesFile) {
    const std::string bus = m_dir.file("bus.sock"), log = m_dir.file("log");
    std::filesystem::create_directories(m_dir.file("spool"));
    m_bus = spawn({findProgram("dbus-daemon"), "--session", "--nofork", "--address=unix:path=" + bus}, log);
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!std::filesystem::exists(bus) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    m_port = static_cast<uint16_t>(freePort());
    m_printer = spawn({findProgram("ippeveprinter"), "-r", "off", "-n", "localhost", "-p", std::to_string(m_port), "-d",
                       m_dir.file("spool"), "-a", attributesFile, "kvtest"},
                      log, {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + bus});
    while (!listening(m_port)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::string output = this->log();
            stop(m_printer);
            stop(m_bus);
            throw std::runtime_error("ippeveprinter does not listen on port " + std::to_string(m_port) + ": " + output);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

IppEvePeer::~IppEvePeer() {
    stop(m_printer);
    stop(m_bus);
}

std::string IppEvePeer::uri() const { return "ipp://localhost:" + std::to_string(m_port) + "/ipp/print"; }

int IppEvePeer::ipptool(const std::string& testFile, const std::string& document) const {
    int status = 0;
    ::waitpid(spawn({findProgram("ipptool"), "-q", "-f", document, uri(), testFile}, m_dir.file("ipptool.log")), &status, 0);
    return exitStatus(status);
}

std::string IppEvePeer::log() const { return readText(m_dir.file("log")); }

}  // namespace kvtest
