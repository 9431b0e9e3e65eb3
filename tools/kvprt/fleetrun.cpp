#include "fleetrun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

#include "fleet.h"
#include "interrupt.h"
#include "progress.h"

extern char** environ;

namespace kvprt {
namespace {

constexpr int kPollMs = 200;   // how often a signal is looked for while children run

struct Member {
    std::string name, uri;
};

// One printer's run: its child process and what it wrote.
struct Run {
    Member member;
    pid_t pid = -1;
    int fds[2] = {-1, -1};   // the read ends of its standard output and error; -1 once closed
    std::string output[2];
    int status = -1;         // its exit status; -1 when it did not exit by itself
    std::string failure;     // why it failed when the child could not say (not started, stopped, too much output)
    bool done = false;
};

// Option words that choose printers: their values do not go to the children.
bool takesPrinterOption(const std::string& arg, bool* printer, bool* valueFollows) {
    for (const char* option : {"--fleet", "--jobs", "--printer", "-p"}) {
        const size_t n = std::strlen(option);
        if (arg.compare(0, n, option) != 0) continue;
        const bool exact = arg.size() == n;
        const bool joined = !exact && (arg[n] == '=' || option[1] != '-');   // --printer=URI, -pURI
        if (!exact && !joined) continue;
        *printer = option == std::string("--printer") || option == std::string("-p");
        *valueFollows = exact;
        return true;
    }
    return false;
}

// The command line without the program and the printer-choosing options.
std::vector<std::string> commandArguments(int argc, char** argv, bool* printerGiven) {
    std::vector<std::string> args;
    *printerGiven = false;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool printer = false, valueFollows = false;
        if (!optionsEnd && takesPrinterOption(arg, &printer, &valueFollows)) {
            *printerGiven |= printer;
            i += valueFollows ? 1 : 0;
            continue;
        }
        optionsEnd |= arg == "--";
        args.push_back(arg);
    }
    return args;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::vector<Member> members(const FleetOptions& options) {
    std::vector<Member> list;
    if (options.file.empty()) {
        for (const std::string& uri : options.printers) list.push_back({shownUri(uri), uri});
        return list;
    }
    std::string error;
    std::optional<kvprtd::Fleet> fleet = kvprtd::readFleet(options.file, &error);
    if (!fleet) throw Failure("--fleet", 0, error);
    for (const kvprtd::PrinterConfig& p : fleet->printers) list.push_back({p.name, p.uri});
    return list;
}

std::string selfPath() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) throw Failure("readlink /proc/self/exe", 0, std::strerror(errno));
    return std::string(path, static_cast<size_t>(n));
}

// Starts kvprt for one printer: the command's arguments, {printer} replaced
// by the printer's name, and the printer's URI. Its outputs go to pipes.
void start(Run& run, const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program, "--printer", run.member.uri};
    for (const std::string& a : args) argv.push_back(replaceAll(a, "{printer}", run.member.name));
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    int pipes[2][2];
    if (::pipe2(pipes[0], O_CLOEXEC) != 0) {
        run.failure = std::string("cannot make a pipe: ") + std::strerror(errno);
        return;
    }
    if (::pipe2(pipes[1], O_CLOEXEC) != 0) {
        run.failure = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(pipes[0][0]);
        ::close(pipes[0][1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 2);
    // The signals this process blocks (interrupt.h) are the child's own to take.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawn(&run.pid, program.c_str(), &actions, &attributes, cargv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipes[0][1]);
    ::close(pipes[1][1]);
    run.fds[0] = pipes[0][0];
    run.fds[1] = pipes[1][0];
    if (rc != 0) {
        run.pid = -1;
        run.failure = "cannot start " + program + ": " + std::strerror(rc);
    }
}

void closeOutput(Run& run, int which) {
    if (run.fds[which] >= 0) ::close(run.fds[which]);
    run.fds[which] = -1;
}

// Reads what is there of one output; a child that writes too much is killed.
void readOutput(Run& run, int which) {
    char buffer[65536];
    ssize_t n = ::read(run.fds[which], buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) return closeOutput(run, which);
    run.output[which].append(buffer, static_cast<size_t>(n));
    if (run.output[which].size() > kMaxChildOutputBytes) {
        ::kill(run.pid, SIGKILL);
        run.failure = "wrote more than " + std::to_string(kMaxChildOutputBytes >> 20) + " MiB";
        closeOutput(run, 0);
        closeOutput(run, 1);
    }
}

// Runs every printer's command, at most `jobs` at once, until all are done.
void runAll(std::vector<Run>& runs, const std::string& program, const std::vector<std::string>& args, unsigned jobs,
            Progress* progress) {
    size_t next = 0, finished = 0;
    std::vector<Run*> running;
    bool stopping = false;
    while (finished < runs.size()) {
        if (interrupted() && !stopping) {
            stopping = true;
            for (Run* r : running) ::kill(r->pid, SIGTERM);
            for (; next < runs.size(); ++next, ++finished) {
                runs[next].failure = "not run: interrupted";
                runs[next].done = true;
            }
        }
        while (!stopping && running.size() < jobs && next < runs.size()) {
            Run& run = runs[next++];
            start(run, program, args);
            if (run.pid > 0) {
                running.push_back(&run);
            } else {
                closeOutput(run, 0);
                closeOutput(run, 1);
                run.done = true;
                ++finished;
            }
        }
        std::vector<pollfd> fds;
        std::vector<std::pair<Run*, int>> owners;
        for (Run* r : running)
            for (int which : {0, 1})
                if (r->fds[which] >= 0) {
                    fds.push_back({r->fds[which], POLLIN, 0});
                    owners.emplace_back(r, which);
                }
        if (!fds.empty() && ::poll(fds.data(), fds.size(), kPollMs) > 0) {
            for (size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents != 0 && owners[i].first->fds[owners[i].second] >= 0)
                    readOutput(*owners[i].first, owners[i].second);
        }
        for (auto it = running.begin(); it != running.end();) {
            Run& r = **it;
            if (r.fds[0] >= 0 || r.fds[1] >= 0) {
                ++it;
                continue;
            }
            int status = 0;
            while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
            else if (r.failure.empty()) r.failure = "ended by signal " + std::to_string(WTERMSIG(status));
            r.done = true;
            ++finished;
            if (progress) progress->update(finished);
            it = running.erase(it);
        }
    }
}

bool succeeded(const Run& run) { return run.status == kExitOk && run.failure.empty(); }

// The child's messages without their "kvprt: " (its other lines on standard
// error are progress, which the fleet's bar replaces).
std::vector<std::string> messages(const Run& run) {
    std::vector<std::string> lines;
    std::istringstream in(run.output[1]);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("kvprt: ", 0) == 0) lines.push_back(line.substr(7));
    return lines;
}

// Why a printer failed, in one line.
std::string reason(const Run& run) {
    if (!run.failure.empty()) return run.failure;
    std::vector<std::string> said = messages(run);
    if (!said.empty()) return said.front();
    return "exit status " + std::to_string(run.status);
}

json errorObject(const std::string& message) {
    return {{"operation", "kvprt"}, {"code", nullptr}, {"text", nullptr}, {"message", message}};
}

// {printer, ok, result | error}: a command that failed part of the way has both.
json runJson(const Run& run) {
    json entry = {{"printer", run.member.name}, {"ok", succeeded(run)}};
    json written = json::parse(run.output[0], nullptr, false);
    const bool onlyError = written.is_object() && written.size() == 1 && written.contains("error");
    if (!written.is_discarded() && !onlyError) entry["result"] = written;
    if (!succeeded(run)) entry["error"] = onlyError && run.failure.empty() ? written["error"] : errorObject(reason(run));
    return entry;
}

void printLines(std::ostream& out, const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out << escapeControls(line) << '\n';
}

}  // namespace

void addPrinterOptions(CLI::App& app, Context& ctx, FleetOptions& options, const std::string& group) {
    app.add_option("-p,--printer", options.printers,
                   "Printer URI: sim:, sim:PROFILE.json or tcp://HOST:PORT[/PRINTER][?timeout=MS] (default sim:); "
                   "given more than once, the command runs on each")
        ->type_name("URI")
        ->envname("KVPRT_PRINTER")
        ->each([&ctx](const std::string& uri) { ctx.uri = uri; })
        ->group(group);
    app.add_option("--fleet", options.file, "Run the command on every printer of this fleet file (docs/kvprtd.md)")
        ->type_name("FLEET.toml")
        ->group(group);
    app.add_option("--jobs", options.jobs, "With several printers: how many run at once (default 8)")
        ->check(CLI::Range(1u, kMaxJobs))
        ->group(group);
}

int runFleet(const CLI::App& app, const FleetOptions& options, int argc, char** argv) {
    bool printerGiven = false;
    const std::vector<std::string> args = commandArguments(argc, argv, &printerGiven);
    if (!options.file.empty() && printerGiven)
        throw CLI::ValidationError("--fleet", "a fleet file and --printer exclude each other");
    if (app.got_subcommand("watch"))
        throw CLI::ValidationError("watch", "watch follows one printer (kvprtd watches a fleet: docs/kvprtd.md)");
    if (app.got_subcommand("discover"))
        throw CLI::ValidationError("discover", "discover asks the network, not printers: give it no --fleet or --printer");
    // Commands that write a file need a name per printer.
    const bool named =
        std::any_of(args.begin(), args.end(), [](const std::string& a) { return a.find("{printer}") != a.npos; });
    if (app.get_subcommand("qs")->got_subcommand("receive") && !named)
        throw CLI::ValidationError("qs receive", "with several printers FILE needs {printer}, as in {printer}.qsf");
    if (app.got_subcommand("snapshot") &&
        app.get_subcommand("snapshot")->get_option("--profile")->as<std::string>() != "-" && !named)
        throw CLI::ValidationError("snapshot", "with several printers FILE needs {printer}, as in {printer}.json");

    std::vector<Run> runs;
    for (Member& m : members(options)) runs.push_back({std::move(m)});
    const bool jsonOut = app.count("--json") > 0;
    catchInterrupts();
    onInterrupt([] {});   // the loop sees interrupted() and stops the children
    std::optional<Progress> progress;
    if (isatty(STDERR_FILENO)) {
        progress.emplace(std::cerr, true, "fleet", runs.size());
        progress->update(0);
    }
    runAll(runs, selfPath(), args, options.jobs, progress ? &*progress : nullptr);
    if (progress) progress->finish();

    size_t failed = 0;
    json all = json::array();
    for (const Run& run : runs) {
        failed += succeeded(run) ? 0 : 1;
        std::vector<std::string> said = messages(run);
        if (!run.failure.empty() || (said.empty() && !succeeded(run))) said.push_back(reason(run));
        if (jsonOut) {
            all.push_back(runJson(run));
            for (const std::string& m : said) warn(run.member.name + ": " + m);
        } else {
            // People read what went wrong under the printer's name, with its output.
            std::cout << (&run == &runs.front() ? "" : "\n") << "== " << escapeControls(run.member.name) << " ==\n";
            printLines(std::cout, run.output[0]);
            for (const std::string& m : said) std::cout << "  error: " << escapeControls(m) << '\n';
            std::cout.flush();
        }
    }
    std::ostream& summary = jsonOut ? std::cerr : std::cout;
    std::cout << (jsonOut ? jsonText(all, 2) + "\n" : runs.empty() ? "" : "\n");
    summary << (runs.size() - failed) << " ok, " << failed << " failed\n";
    for (const Run& run : runs)
        if (!succeeded(run)) summary << "  " << escapeControls(run.member.name) << ": " << escapeControls(reason(run)) << '\n';
    summary.flush();
    if (interrupted()) return 130;
    return failed ? kExitFailed : kExitOk;
}

}  // namespace kvprt
