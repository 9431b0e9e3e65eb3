// The programs run for tests: to the end (exit status and output), or in the
// background for as long as a test needs them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
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

// Runs kvprt with `args`, standard input empty.
Outcome runKvprt(const std::vector<std::string>& args);

// A program found on PATH, its standard output and error to `log`, stopped
// with SIGTERM when destroyed.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, const std::string& log = "/dev/null");
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

private:
    pid_t m_pid = -1;
};

// Whether `done` became true within `limit`, asked every 100 ms.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit);

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

}  // namespace kvtest
