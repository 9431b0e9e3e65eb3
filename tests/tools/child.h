// Programs run in the background for as long as a test needs them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace kvtest {

// A program found on PATH, standard input empty, its standard output and
// error to `log`, stopped with SIGTERM when destroyed.
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
