// The console examples of the README and docs/*.md, run and compared with
// what they show. Each ```console block is a shell session: "$ " lines are
// commands, the lines up to the next command what the terminal shows. The
// commands run in a terminal of their own (a pseudo-terminal, so progress
// bars and prompts look as they do for a reader), in a scratch folder per
// document, with the build's programs first on PATH:
// - "$ export ..." lines set nothing (PATH is already set) and show nothing;
// - "$ kvprtsimd ... --listen HOST:PORT ... &" starts a daemon for the rest
//   of the document, on a free port that stands in for PORT in the commands
//   and outputs that follow;
// - anything else runs with sh -c.
// An expected line ending in "# varies" matches any one line.
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim_daemon.h"
#include "temp_dir.h"

extern char** environ;

namespace {

struct Command {
    std::string line;                   // without "$ "
    std::vector<std::string> expected;  // the lines shown after it
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The commands of every ```console block of a Markdown file, in order.
std::vector<Command> consoleCommands(const std::string& path) {
    std::ifstream in(path);
    std::vector<Command> commands;
    bool inBlock = false;
    for (std::string line; std::getline(in, line);) {
        if (!inBlock) {
            inBlock = line == "```console";
        } else if (line == "```") {
            inBlock = false;
        } else if (line.rfind("$ ", 0) == 0) {
            commands.push_back({line.substr(2), {}});
        } else if (!commands.empty()) {
            commands.back().expected.push_back(line);
        }
    }
    return commands;
}

// What a terminal shows of `bytes`: carriage returns go back to the start of
// the line, later characters overwrite earlier ones.
std::vector<std::string> screenLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.push_back(line);
            line.clear();
            column = 0;
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line += c;
            ++column;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Runs `command` with sh in a pseudo-terminal; what the terminal shows.
std::vector<std::string> runInTerminal(const std::string& command, const std::string& folder) {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {"(no pseudo-terminal)"};
    std::string shell = "/bin/sh", flag = "-c", text = "PATH='" KVPO_BINARY_DIR "':$PATH; " + command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, 1);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = -1;
    int rc = posix_spawn(&pid, shell.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    std::string bytes;
    char buffer[4096];
    for (ssize_t n; rc == 0 && ((n = ::read(master, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR));)
        if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
    ::close(master);   // EIO: every end of the terminal is closed, the command is done
    if (rc == 0) ::waitpid(pid, nullptr, 0);
    return screenLines(bytes);
}

bool matches(const std::vector<std::string>& expected, const std::vector<std::string>& shown) {
    if (expected.size() != shown.size()) return false;
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string& e = expected[i];
        const bool varies = e.size() >= 8 && e.compare(e.size() - 8, 8, "# varies") == 0;
        if (!varies && e != shown[i]) return false;
    }
    return true;
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

// Runs the console examples of one document.
void checkDocument(const std::string& name) {
    const std::vector<Command> commands = consoleCommands(std::string(KVPO_SOURCE_DIR) + "/" + name);
    kvtest::TempDir folder;
    std::unique_ptr<kvtest::SimDaemon> daemon;
    std::string shownAddress, servedAddress;   // the daemon's address in the document, and where it runs
    for (const Command& c : commands) {
        SCOPED_TRACE(name + ": $ " + c.line);
        std::vector<std::string> shown;
        if (c.line.rfind("export ", 0) == 0) {
            // nothing to run, nothing shown
        } else if (c.line.rfind("kvprtsimd ", 0) == 0) {
            std::vector<std::string> args;
            std::istringstream words(c.line.substr(10));
            for (std::string w; words >> w && w != "&";) {
                if (w == "--listen" && words >> shownAddress) continue;
                args.push_back(w);
            }
            daemon = std::make_unique<kvtest::SimDaemon>(KVPRTSIMD, args);
            servedAddress = "127.0.0.1:" + std::to_string(daemon->port());
            shown = linesOf(replaceAll(daemon->output(), servedAddress, shownAddress));
        } else {
            const std::string command = replaceAll(c.line, shownAddress, servedAddress);
            for (std::string& line : runInTerminal(command, folder.file("")))
                shown.push_back(replaceAll(line, servedAddress, shownAddress));
        }
        EXPECT_TRUE(matches(c.expected, shown)) << "the document shows:\n"
                                                << joined(c.expected) << "the terminal shows:\n"
                                                << joined(shown);
    }
}

TEST(DocsExamples, Readme) { checkDocument("README.md"); }

TEST(DocsExamples, EveryDocumentOfDocs) {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(KVPO_SOURCE_DIR) + "/docs"))
        if (entry.path().extension() == ".md") checkDocument("docs/" + entry.path().filename().string());
}

// The quick start builds with the preset "report"; the tour that follows it
// runs every program of the README's examples.
TEST(DocsExamples, TheQuickStartBuildsEveryProgramTheTourRuns) {
    std::ifstream in(std::string(KVPO_SOURCE_DIR) + "/CMakePresets.json");
    const nlohmann::json presets = nlohmann::json::parse(in);
    std::vector<std::string> built;
    for (const auto& preset : presets["buildPresets"])
        if (preset["name"] == "report") built = preset["targets"].get<std::vector<std::string>>();
    for (const Command& c : consoleCommands(std::string(KVPO_SOURCE_DIR) + "/README.md")) {
        const std::string program = c.line.substr(0, c.line.find(' '));
        if (program == "export") continue;
        EXPECT_TRUE(std::count(built.begin(), built.end(), program) ||
                    std::count(built.begin(), built.end(), program + "-report"))   // kvprt-report builds kvprt
            << program;
    }
}

TEST(DocsExamples, OutputThatVariesIsMarkedLineByLine) {
    EXPECT_TRUE(matches({"alert 8", "took 3 ms  # varies"}, {"alert 8", "took 5 ms"}));
    EXPECT_FALSE(matches({"alert 8", "took 3 ms  # varies"}, {"alert 9", "took 5 ms"}));
    EXPECT_FALSE(matches({"anything  # varies"}, {}));   // one line each
    EXPECT_EQ(screenLines("\rsend [#.] 1/2\rsend [##] 2/2\r\nDone.\r\n"),
              (std::vector<std::string>{"send [##] 2/2", "Done."}));
}

}  // namespace
