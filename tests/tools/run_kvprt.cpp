#include "run_kvprt.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace kvtest {
namespace {

// Starts `program` (searched on PATH) with its standard input empty and its output to the files given.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, const std::string& out,
            const std::string& err) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err == out)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, cargv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace

Outcome runKvprt(const std::vector<std::string>& args) {
    TempDir dir;
    Outcome run;
    if (pid_t pid = spawn(KVPRT_BINARY, args, dir.file("out"), dir.file("err")); pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    run.out = readText(dir.file("out"));
    run.err = readText(dir.file("err"));
    return run;
}

Child::Child(const std::string& program, const std::vector<std::string>& args, const std::string& log)
    : m_pid(spawn(program, args, log, log)) {}

Child::~Child() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (auto deadline = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace kvtest
