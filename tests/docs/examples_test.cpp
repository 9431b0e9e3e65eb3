// The console examples of the README and docs/*.md, run and compared with
// what they show. Each ```console block is a shell session: "$ " lines are
// commands, the lines up to the next command what the terminal shows. The
// commands run in a terminal of their own (a pseudo-terminal, so progress
// bars and prompts look as they do for a reader), in a scratch folder per
// document, with the build's programs first on PATH:
// - "$ export ..." lines set nothing (PATH is already set) and show nothing;
// - "$ kvprtsimd ... --listen HOST:PORT ... &" starts a daemon for the rest
//   of the document, on a free port that stands in for PORT in the commands
//   and outputs that follow; "$ kvprtd ... &" the same (HOST:PORT is
//   127.0.0.1:9180 without --listen), with a scratch database unless --db is
//   given, once every printer has been polled. What the daemon shows is its
//   standard error, then its standard output, up to then;
// - anything else runs with sh -c.
// A block of another language whose first line is "# NAME" (a file name,
// such as "# fleet.toml") is that file: it is written to the scratch folder,
// the daemons' addresses put in, before each command.
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
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "sim_daemon.h"
#include "temp_dir.h"

extern char** environ;

namespace {

struct Command {
    std::string line;                   // without "$ "
    std::vector<std::string> expected;  // the lines shown after it
};

struct Document {
    std::vector<Command> commands;
    std::map<std::string, std::string> files;   // name -> text
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A file name of a "# NAME" line: no blanks, no folders, an extension.
bool fileName(const std::string& name) {
    return name.find_first_of(" /") == std::string::npos && name.find('.') != std::string::npos;
}

// The commands of every ```console block of a Markdown file, in order, and
// the files its other blocks name.
Document readDocument(const std::string& path) {
    std::ifstream in(path);
    Document doc;
    enum { Text, Console, FirstLine, File, Other } block = Text;
    std::string file;
    for (std::string line; std::getline(in, line);) {
        if (block == Text) {
            if (line.rfind("```", 0) == 0) block = line == "```console" ? Console : FirstLine;
            continue;
        }
        if (line == "```") {
            block = Text;
            continue;
        }
        if (block == Console && line.rfind("$ ", 0) == 0) {
            doc.commands.push_back({line.substr(2), {}});
        } else if (block == Console && !doc.commands.empty()) {
            doc.commands.back().expected.push_back(line);
        } else if (block == FirstLine) {
            const bool names = line.rfind("# ", 0) == 0 && fileName(line.substr(2));
            block = names ? File : Other;
            if (names) doc.files[file = line.substr(2)].clear();
        } else if (block == File) {
            doc.files[file] += line + "\n";
        }
    }
    return doc;
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

// A daemon a document started, and its address in the document and where it runs.
struct Daemon {
    std::unique_ptr<kvtest::SimDaemon> process;
    std::string shown, served;
};

// Starts the daemon of a "$ kvprtsimd ... &" or "$ kvprtd ... &" line in `folder`.
Daemon startDaemon(const std::string& line, const std::string& folder) {
    std::istringstream words(line);
    std::string program;
    words >> program;
    Daemon d;
    std::vector<std::string> args;
    for (std::string w; words >> w && w != "&";) {
        if (w == "--listen" && words >> d.shown) continue;
        args.push_back(w);
    }
    const bool kvprtd = program == "kvprtd";
    if (kvprtd && d.shown.empty()) d.shown = "127.0.0.1:9180";
    if (kvprtd && std::find(args.begin(), args.end(), "--db") == args.end()) args.insert(args.end(), {"--db", "kvprtd.db"});
    kvtest::SimDaemon::Launch launch;
    launch.folder = folder;
    launch.stderrPath = folder + "/" + program + ".stderr";
    d.process = std::make_unique<kvtest::SimDaemon>(kvprtd ? KVPRTD : KVPRTSIMD, args, launch);
    d.served = "127.0.0.1:" + std::to_string(d.process->port());
    // kvprtd is ready for the examples once every printer has been polled.
    httplib::Client client("127.0.0.1", d.process->port());
    for (int tries = 0; kvprtd && tries < 100; ++tries) {
        auto r = client.Get("/api/v1/printers");
        if (r && r->status == 200 && r->body.find("\"state\":\"unknown\"") == std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return d;
}

// Runs the console examples of one document.
void checkDocument(const std::string& name) {
    const Document doc = readDocument(std::string(KVPO_SOURCE_DIR) + "/" + name);
    kvtest::TempDir folder;
    std::vector<Daemon> daemons;
    auto served = [&](std::string text) {
        for (const Daemon& d : daemons) text = replaceAll(text, d.shown, d.served);
        return text;
    };
    auto shownAs = [&](std::string text) {
        for (const Daemon& d : daemons) text = replaceAll(text, d.served, d.shown);
        return text;
    };
    for (const Command& c : doc.commands) {
        SCOPED_TRACE(name + ": $ " + c.line);
        for (const auto& [file, text] : doc.files) std::ofstream(folder.file(file), std::ios::trunc) << served(text);
        std::vector<std::string> shown;
        if (c.line.rfind("export ", 0) == 0) {
            // nothing to run, nothing shown
        } else if ((c.line.rfind("kvprtsimd ", 0) == 0 || c.line.rfind("kvprtd ", 0) == 0) && c.line.back() == '&') {
            daemons.push_back(startDaemon(c.line, folder.file("")));
            std::string errors = kvtest::readText(folder.file(c.line.substr(0, c.line.find(' ')) + ".stderr"));
            shown = linesOf(shownAs(errors + daemons.back().process->output()));
        } else {
            for (std::string& line : runInTerminal(served(c.line), folder.file(""))) shown.push_back(shownAs(line));
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
    for (const Command& c : readDocument(std::string(KVPO_SOURCE_DIR) + "/README.md").commands) {
        const std::string program = c.line.substr(0, c.line.find(' '));
        if (!std::filesystem::exists(std::string(KVPO_BINARY_DIR) + "/" + program)) continue;   // export, curl
        EXPECT_TRUE(std::count(built.begin(), built.end(), program) ||
                    std::count(built.begin(), built.end(), program + "-report"))   // kvprt-report builds kvprt
            << program;
    }
}

}  // namespace
