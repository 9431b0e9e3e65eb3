// discover's DNS-SD browse: avahi-browse as a child process, one service
// type at a time, its output bounded in bytes and time (Avahi's client
// library would tie kvprt to the daemon's D-Bus interface for three lookups).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <sstream>

#include "command.h"
#include "discover.h"

extern char** environ;

namespace kvprt {
namespace {

constexpr const char* kServiceTypes[] = {"_ipp._tcp", "_ipps._tcp", "_pdl-datastream._tcp"};
constexpr size_t kMaxBrowseBytes = 1u << 20;
// Fields of a resolved line of avahi-browse -p: =;interface;protocol;name;type;domain;host;address;port;txt
enum BrowseField { kEvent, kInterface, kProtocol, kName, kType, kDomain, kHost, kAddress, kPort, kTxt, kFields };

struct Browse {
    int status = -1;      // avahi-browse's exit status; -1 when it could not run or was stopped
    std::string output;   // its standard output and error
};

Browse runBrowse(const char* type, unsigned timeoutS) {
    Browse b;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return b;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    const char* argv[] = {"avahi-browse", "-rtp", type, nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        b.output = std::string("avahi-browse: ") + std::strerror(rc);
        return b;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutS);
    bool stopped = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
            stopped = true;
            break;
        }
        char buffer[16384];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        b.output.append(buffer, static_cast<size_t>(n));
        if (b.output.size() > kMaxBrowseBytes) {
            stopped = true;
            break;
        }
    }
    ::close(fds[0]);
    if (stopped) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!stopped && WIFEXITED(status)) b.status = WEXITSTATUS(status);
    else if (stopped) b.status = 0;   // what came within the time counts
    return b;
}

// avahi-browse writes a name's ';', '\' and unprintable bytes as \DDD (decimal).
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) && std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            const int code = std::stoi(text.substr(i + 1, 3));
            if (code < 256) {
                out += static_cast<char>(code);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The value of key `key` among the TXT strings ("ty=Model" "rp=ipp/print").
std::string txtValue(const std::string& txt, const std::string& key) {
    const std::string wanted = "\"" + key + "=";
    const size_t at = txt.find(wanted);
    if (at == std::string::npos) return {};
    const size_t begin = at + wanted.size(), end = txt.find('"', begin);
    return txt.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

std::vector<Answer> browseDnsSd(unsigned timeoutS) {
    std::vector<Answer> found;
    for (const char* type : kServiceTypes) {
        Browse b = runBrowse(type, timeoutS);
        if (b.status != 0) {
            std::string why = b.output.substr(0, b.output.find('\n'));
            warn("DNS-SD not asked (is avahi-daemon running?)" + (why.empty() ? std::string() : ": " + why));
            return {};
        }
        std::istringstream lines(b.output);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            size_t from = 0;
            while (fields.size() + 1 < kFields) {
                const size_t semicolon = line.find(';', from);
                if (semicolon == std::string::npos) break;
                fields.push_back(line.substr(from, semicolon - from));
                from = semicolon + 1;
            }
            fields.push_back(line.substr(from));
            if (fields.size() != kFields || fields[kEvent] != "=" || fields[kProtocol] != "IPv4") continue;
            found.push_back({fields[kAddress], printerText(unescape(fields[kName])),
                             printerText(txtValue(fields[kTxt], "ty")), {}, "dns-sd"});
        }
    }
    return found;
}

}  // namespace kvprt
