#include "run_kvprt.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "temp_dir.h"

extern char** environ;

namespace kvtest {

Outcome runKvprt(const std::vector<std::string>& args, int signal, int signalAfterMs) {
    return runProgram(KVPRT_BINARY, args, signal, signalAfterMs);
}

Outcome runProgram(const std::string& program, const std::vector<std::string>& args, int signal, int signalAfterMs) {
    TempDir dir;
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
    pid_t pid;
    Outcome run;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, cargv.data(), environ) == 0) {
        if (signal != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(signalAfterMs));
            ::kill(pid, signal);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readText(dir.file("out"));
    run.err = readText(dir.file("err"));
    return run;
}

}  // namespace kvtest
