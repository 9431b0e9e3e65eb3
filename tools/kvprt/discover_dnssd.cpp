// discover's DNS-SD browse: avahi-browse as child processes, one for each
// service type, all at once, their output bounded in bytes and time (Avahi's client
// library would tie kvprt to the daemon's D-Bus interface for three lookups).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string_view>

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
    pid_t pid = -1;
    int fd = -1;          // the read end of its output, -1 once at its end
    bool stopped = false;  // killed at the deadline or for its size
    int status = -1;      // avahi-browse's exit status; -1 when it could not run
    std::string output;   // its standard output and error
};

// Starts avahi-browse for `type`; a Browse with an error text when it cannot.
Browse startBrowse(const char* type) {
    Browse b;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return b;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    const char* argv[] = {"avahi-browse", "-rtp", type, nullptr};
    const int rc = posix_spawnp(&b.pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        b.pid = -1;
        b.output = std::string("avahi-browse: ") + std::strerror(rc);
    } else {
        b.fd = fds[0];
    }
    return b;
}

// One avahi-browse for each service type at once, read until each ends, the
// deadline or kMaxBrowseBytes in all; what came within the time counts.
std::vector<Browse> runBrowses(unsigned timeoutS) {
    std::vector<Browse> browses;
    for (const char* type : kServiceTypes) browses.push_back(startBrowse(type));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutS);
    size_t total = 0;
    for (;;) {
        std::vector<pollfd> open;
        for (const Browse& b : browses)
            if (b.fd >= 0) open.push_back({b.fd, POLLIN, 0});
        if (open.empty() || total > kMaxBrowseBytes) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int ready = left.count() <= 0 ? 0 : ::poll(open.data(), open.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        for (Browse& b : browses) {
            if (b.fd < 0 || std::none_of(open.begin(), open.end(), [&](const pollfd& p) { return p.fd == b.fd && p.revents; }))
                continue;
            char buffer[16384];
            const ssize_t n = ::read(b.fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                b.output.append(buffer, static_cast<size_t>(n));
                total += static_cast<size_t>(n);
                continue;
            }
            ::close(b.fd);
            b.fd = -1;
        }
    }
    for (Browse& b : browses) {
        if (b.fd >= 0) {
            ::close(b.fd);
            ::kill(b.pid, SIGKILL);
            b.stopped = true;
        }
        int status = 0;
        while (b.pid > 0 && ::waitpid(b.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (b.stopped) b.status = 0;
        else if (b.pid > 0 && WIFEXITED(status)) b.status = WEXITSTATUS(status);
    }
    return browses;
}

// avahi-browse -p writes the bytes of a name or TXT string other than letters,
// digits, '-' and '_' as \DDD (decimal), or '.', '\' and '"' as \. \\ \".
std::string unescape(std::string_view text) {
    std::string out;
    auto digit = [&](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9' ? text[at] - '0' : -1; };
    for (size_t i = 0; i < text.size(); ++i) {
        const int code = digit(i + 1) * 100 + digit(i + 2) * 10 + digit(i + 3);
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (digit(i + 1) >= 0 && digit(i + 2) >= 0 && digit(i + 3) >= 0 && code < 256) {
            out += static_cast<char>(code);
            i += 3;
        } else {
            out += text[++i];
        }
    }
    return out;
}

// The value of `key` (in any case) among the TXT strings, each quoted:
// "ty=Model" "rp=ipp/print".
std::string txtValue(std::string_view txt, std::string_view key) {
    for (size_t at = txt.find('"'); at < txt.size(); at = txt.find('"', at + 1)) {
        size_t end = at + 1;
        while (end < txt.size() && txt[end] != '"') end += txt[end] == '\\' ? 2 : 1;
        const std::string text = unescape(txt.substr(at + 1, end - at - 1));
        if (text.size() > key.size() && text[key.size()] == '=' &&
            std::equal(key.begin(), key.end(), text.begin(), [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); }))
            return text.substr(key.size() + 1);
        at = end;
    }
    return {};
}

}  // namespace

std::vector<Answer> browseDnsSd(unsigned timeoutS) {
    std::vector<Answer> found;
    for (const Browse& b : runBrowses(timeoutS)) {
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
