// The console examples of the README and docs/*.md, and the transcripts kept
// with the programs' tests, run and compared with what they show. Each
// ```console block is a shell session: "$ " lines are commands, the lines up
// to the next command what the terminal shows ("... # varies" matches any one
// line). Commands run in a pseudo-terminal, in a scratch folder per document,
// with the build's programs first on PATH and $TESTS naming the tests' folder:
// - "$ export ..." sets and shows nothing (PATH is already set);
// - "$ kvprtsimd ... --listen HOST:PORT ... &" starts a daemon for the rest of
//   the document on a free port, which stands in for HOST:PORT; "$ kvprtd ... &"
//   the same (127.0.0.1:9180 without --listen, a scratch database without
//   --db), once every printer has been polled. It shows its standard error,
//   then its standard output;
// - "$ snmpsimd --data-dir=DIR --agent-udpv4-endpoint=127.0.0.1:PORT ... &"
//   starts snmpsim on the recordings of DIR (of the source tree) on a free
//   UDP port, which stands in for PORT in "127.0.0.1:PORT" and in
//   "snmp-port=PORT"; it shows nothing;
// - anything else runs with sh -c.
// A block of another language whose first line is "# NAME" (such as
// "# fleet.toml") is that file, written to the scratch folder with the
// daemons' addresses before each command.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <utmp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "sim_daemon.h"
#include "snmpsim_peer.h"
#include "temp_dir.h"

namespace {

struct Command {
    std::string line;                   // without "$ "
    std::vector<std::string> expected;  // the lines shown after it
};

struct Document {
    std::vector<Command> commands;
    std::map<std::string, std::string> files;   // name -> text
};

// The commands of every ```console block of a Markdown file, in order, and
// the files its other blocks name.
Document readDocument(const std::string& path) {
    std::ifstream in(path);
    Document doc;
    enum { Text, Console, FirstLine, File, Other } block = Text;
    std::string file;
    for (std::string line; std::getline(in, line);) {
        if (block == Text) {
            if (line.starts_with("```")) block = line == "```console" ? Console : FirstLine;
        } else if (line == "```") {
            block = Text;
        } else if (block == Console && line.starts_with("$ ")) {
            doc.commands.push_back({line.substr(2), {}});
        } else if (block == Console && !doc.commands.empty()) {
            doc.commands.back().expected.push_back(line);
        } else if (block == FirstLine) {   // "# NAME": a file name without blanks or folders, with an extension
            file = line.substr(std::min<size_t>(2, line.size()));
            block = line.starts_with("# ") && file.find_first_of(" /") == std::string::npos && file.find('.') != std::string::npos
                        ? File : Other;
            if (block == File) doc.files[file].clear();
        } else if (block == File) {
            doc.files[file] += line + "\n";
        }
    }
    return doc;
}

// What a terminal shows of `bytes`: a carriage return goes back to the start
// of the line, later characters overwrite earlier ones.
std::vector<std::string> screenLines(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (char c : bytes) {
        if (c == '\n') lines.emplace_back();
        if (c == '\n' || c == '\r') {
            column = 0;
        } else {
            lines.back().resize(std::max(lines.back().size(), column + 1));
            lines.back()[column++] = c;
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

// Runs `command` with sh in a pseudo-terminal of its own, in `folder`; what it
// writes there. The shell prints a mark after the command, and the output is
// read up to it: the terminal keeps the order of what is written to it, while
// a read after the last writer has closed it may miss output still on its way
// through the terminal (seen under load). The test keeps its own end of the
// terminal open, so that reads wait rather than fail; a command that ends the
// shell before the mark is read until nothing more comes for 100 ms.
std::string runInTerminal(const std::string& command, const std::string& folder) {
    static const std::string kMark = "\036end of the example\036";
    const std::string text = "PATH='" KVPO_BINARY_DIR "':$PATH; TESTS='" KVPO_SOURCE_DIR "/tests'; " + command +
                             "\nprintf '\\036end of the example\\036'";
    int master = -1, terminal = -1;
    if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) < 0) return "(no pseudo-terminal)";
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(master), ::close(terminal);
        return "(no process)";
    }
    if (pid == 0) {   // standard input empty, output to the terminal
        ::close(master);
        ::login_tty(terminal);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        if (::chdir(folder.c_str()) == 0) ::execl("/bin/sh", "sh", "-c", text.c_str(), nullptr);
        ::_exit(127);
    }
    std::string bytes;
    char buffer[4096];
    bool exited = false;
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
         bytes.find(kMark) == std::string::npos && std::chrono::steady_clock::now() < deadline;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            if (ssize_t n = ::read(master, buffer, sizeof buffer); n > 0) bytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (exited) break;
        exited = ::waitpid(pid, nullptr, WNOHANG) == pid;
    }
    if (!exited && ::waitpid(pid, nullptr, WNOHANG) != pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(terminal);
    ::close(master);
    if (size_t at = bytes.find(kMark); at != std::string::npos) bytes.erase(at, kMark.size());
    return bytes;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

// A daemon a document started, and its address in the document and where it
// runs (for snmpsim: its endpoint, then its port as net:// URIs name it).
struct Daemon {
    std::unique_ptr<kvtest::SimDaemon> process;
    std::unique_ptr<kvtest::SnmpSim> snmpsim;
    std::vector<std::pair<std::string, std::string>> addresses;   // shown, served
};

// The value of "--NAME=VALUE" among the words of `line`.
std::string option(const std::string& line, const std::string& name) {
    std::istringstream words(line);
    for (std::string w; words >> w;)
        if (w.starts_with("--" + name + "=")) return w.substr(name.size() + 3);
    return {};
}

Daemon startSnmpSim(const std::string& line) {
    Daemon d;
    d.snmpsim = std::make_unique<kvtest::SnmpSim>(std::vector<std::string>{KVPO_SOURCE_DIR "/" + option(line, "data-dir")});
    const std::string shown = option(line, "agent-udpv4-endpoint"), port = std::to_string(d.snmpsim->port());
    d.addresses = {{shown, "127.0.0.1:" + port}, {"snmp-port=" + shown.substr(shown.find(':') + 1), "snmp-port=" + port}};
    return d;
}

// Starts the daemon of a "$ kvprtsimd ... &" or "$ kvprtd ... &" line in `folder`.
Daemon startDaemon(const std::string& line, const std::string& folder) {
    std::istringstream words(line);
    std::string program;
    words >> program;
    const bool kvprtd = program == "kvprtd";
    Daemon d;
    std::string shown = kvprtd ? "127.0.0.1:9180" : "";
    std::vector<std::string> args;
    for (std::string w; words >> w && w != "&";)
        if (w != "--listen" || !(words >> shown)) args.push_back(w);
    if (kvprtd && std::find(args.begin(), args.end(), "--db") == args.end()) args.insert(args.end(), {"--db", "kvprtd.db"});
    const kvtest::SimDaemon::Launch launch{{}, "127.0.0.1", folder + "/" + program + ".stderr", folder};
    d.process = std::make_unique<kvtest::SimDaemon>(kvprtd ? KVPRTD : KVPRTSIMD, args, launch);
    d.addresses = {{shown, "127.0.0.1:" + std::to_string(d.process->port())}};
    // kvprtd is ready for the examples once every printer has been polled
    // (asked over plain HTTP, so not with a web configuration).
    const bool plain = std::find(args.begin(), args.end(), "--web-config") == args.end();
    for (int tries = 0; kvprtd && plain && tries < 100; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        auto r = httplib::Client("127.0.0.1", d.process->port()).Get("/api/v1/printers");
        if (r && r->status == 200 && r->body.find("\"state\":\"unknown\"") == std::string::npos) break;
    }
    return d;
}

// Runs the console examples of one document.
void checkDocument(const std::string& name) {
    const Document doc = readDocument(std::string(KVPO_SOURCE_DIR) + "/" + name);
    kvtest::TempDir folder;
    std::vector<Daemon> daemons;
    auto served = [&](std::string text, bool back = false) {   // back: the address served as the document shows it
        for (const Daemon& d : daemons)
            for (const auto& [shown, address] : d.addresses)
                text = back ? replaceAll(text, address, shown) : replaceAll(text, shown, address);
        return text;
    };
    for (const Command& c : doc.commands) {
        SCOPED_TRACE(name + ": $ " + c.line);
        for (const auto& [file, text] : doc.files) std::ofstream(folder.file(file), std::ios::trunc) << served(text);
        std::string bytes;   // export: nothing to run, nothing shown
        if (c.line.starts_with("snmpsimd ") && c.line.ends_with("&")) {
            daemons.push_back(startSnmpSim(c.line));
        } else if ((c.line.starts_with("kvprtsimd ") || c.line.starts_with("kvprtd ")) && c.line.ends_with("&")) {
            daemons.push_back(startDaemon(c.line, folder.file("")));
            bytes = kvtest::readText(folder.file(c.line.substr(0, c.line.find(' ')) + ".stderr")) +
                    daemons.back().process->output();
        } else if (!c.line.starts_with("export ")) {
            bytes = runInTerminal(served(c.line), folder.file(""));
        }
        std::vector<std::string> shown = screenLines(served(bytes, true));
        for (size_t i = 0; i < shown.size() && shown.size() == c.expected.size(); ++i)
            if (c.expected[i].ends_with("# varies")) shown[i] = c.expected[i];   // matches any one line
        EXPECT_EQ(joined(shown), joined(c.expected)) << "the terminal shows what the document does not";
    }
}

TEST(DocsExamples, Readme) { checkDocument("README.md"); }

TEST(DocsExamples, EveryDocumentOfDocsAndTranscriptOfTheProgramsTests) {
    for (std::string folder : {"docs", "tests/tools"})
        for (const auto& entry : std::filesystem::directory_iterator(KVPO_SOURCE_DIR "/" + folder))
            if (entry.path().extension() == ".md") checkDocument(folder + "/" + entry.path().filename().string());
}

// The quick start builds with the preset "report"; the tour that follows it
// runs every program of the README's examples (kvprt-report builds kvprt).
TEST(DocsExamples, TheQuickStartBuildsEveryProgramTheTourRuns) {
    std::string built;
    const nlohmann::json presets = nlohmann::json::parse(std::ifstream(KVPO_SOURCE_DIR "/CMakePresets.json"));
    for (const auto& preset : presets["buildPresets"])
        if (preset["name"] == "report") built = preset["targets"].dump();
    for (const Command& c : readDocument(KVPO_SOURCE_DIR "/README.md").commands) {
        const std::string program = c.line.substr(0, c.line.find(' '));
        if (!std::filesystem::exists(KVPO_BINARY_DIR "/" + program)) continue;   // export, curl
        EXPECT_TRUE(built.find('"' + program + '"') != std::string::npos ||
                    built.find('"' + program + "-report\"") != std::string::npos) << program;
    }
}

}  // namespace
