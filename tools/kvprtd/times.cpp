#include "times.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kvprtd {
namespace {

bool digits(std::string_view text, size_t at, size_t count, int* value) {
    if (at + count > text.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

}  // namespace

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string rfc3339(int64_t ms) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    int64_t milli = ms % 1000;
    if (milli < 0) milli += 1000, --seconds;
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milli));
    return text;
}

std::optional<int64_t> parseTime(std::string_view text) {
    if (text.empty() || text.size() > 40) return std::nullopt;
    if (text.find_first_not_of("0123456789") == std::string_view::npos) {
        if (text.size() > 12) return std::nullopt;   // beyond the year 33000
        return std::stoll(std::string(text)) * 1000;
    }
    // YYYY-MM-DDTHH:MM:SS[.fraction](Z|+HH:MM|-HH:MM)
    int year, month, day, hour, minute, second;
    if (!digits(text, 0, 4, &year) || text[4] != '-' || !digits(text, 5, 2, &month) || text[7] != '-' ||
        !digits(text, 8, 2, &day) || (text[10] != 'T' && text[10] != 't' && text[10] != ' ') ||
        !digits(text, 11, 2, &hour) || text[13] != ':' || !digits(text, 14, 2, &minute) || text[16] != ':' ||
        !digits(text, 17, 2, &second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    size_t at = 19;
    int64_t milli = 0;
    if (at < text.size() && text[at] == '.') {
        int64_t scale = 100;
        size_t first = ++at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
            milli += (text[at] - '0') * scale;
        if (at == first) return std::nullopt;
    }
    int offsetMinutes = 0;
    if (at < text.size() && (text[at] == 'Z' || text[at] == 'z') && at + 1 == text.size()) {
        // UTC
    } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':') {
        int oh, om;
        if (!digits(text, at + 1, 2, &oh) || !digits(text, at + 4, 2, &om) || oh > 23 || om > 59) return std::nullopt;
        offsetMinutes = (text[at] == '+' ? 1 : -1) * (oh * 60 + om);
    } else {
        return std::nullopt;
    }
    tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    time_t seconds = timegm(&utc);
    return (static_cast<int64_t>(seconds) - offsetMinutes * 60) * 1000 + milli;
}

}  // namespace kvprtd
