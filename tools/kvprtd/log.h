// kvprtd's messages: one line each on standard error (the journal under
// systemd), prefixed with the program's name. Texts that came from outside
// (printer texts, file contents) have their control characters escaped.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace kvprtd {

// Writes "kvprtd: <message>" as one line; safe from any thread.
void logLine(std::string_view message);
// `text` with control characters (and DEL) written as \xNN, for a terminal or a log.
std::string printable(std::string_view text);

// A message that may repeat many times a second (a failing disk): written at
// most once every `every`, with the count of those left out since.
class RepeatedLog {
public:
    explicit RepeatedLog(std::chrono::seconds every) : m_every(every) {}
    void line(std::string_view message);

private:
    const std::chrono::seconds m_every;
    std::mutex m_lock;
    std::chrono::steady_clock::time_point m_last{};
    bool m_written = false;
    uint64_t m_left = 0;
};

}  // namespace kvprtd
