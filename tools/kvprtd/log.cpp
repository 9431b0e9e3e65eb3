#include "log.h"

#include <cstdio>
#include <mutex>

namespace kvprtd {

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void logLine(std::string_view message) {
    static std::mutex lock;
    std::string line = "kvprtd: " + printable(message) + "\n";
    std::lock_guard guard(lock);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void RepeatedLog::line(std::string_view message) {
    const auto now = std::chrono::steady_clock::now();
    uint64_t left;
    {
        std::lock_guard guard(m_lock);
        if (m_written && now - m_last < m_every) {
            ++m_left;
            return;
        }
        left = m_left;
        m_left = 0;
        m_last = now;
        m_written = true;
    }
    std::string text(message);
    if (left > 0) text += " (and " + std::to_string(left) + " more like it left out)";
    logLine(text);
}

}  // namespace kvprtd
