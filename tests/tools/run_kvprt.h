// kvprt (and the other programs) run as a program for tests: its exit status and what it wrote.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "temp_dir.h"

namespace kvtest {

struct Outcome {
    int status = -1;   // the exit status; -1 when it did not exit normally
    std::string out, err;
    nlohmann::json parsed() const { return nlohmann::json::parse(out); }
};

// Runs `program` with `args`, standard input empty; with `signal` not 0,
// that signal is sent to it after `signalAfterMs` milliseconds.
Outcome runProgram(const std::string& program, const std::vector<std::string>& args, int signal = 0,
                   int signalAfterMs = 0);
// runProgram of kvprt.
Outcome runKvprt(const std::vector<std::string>& args, int signal = 0, int signalAfterMs = 0);

}  // namespace kvtest
