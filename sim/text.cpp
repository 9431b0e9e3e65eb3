#include "text.h"

#include <cstdint>
#include <vector>

namespace kvsim {
namespace {

// Code page 850, bytes 0x80 to 0xFF, as Unicode code points.
constexpr char32_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,   // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,   // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,   // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,   // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,   // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,   // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,   // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,   // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,   // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,   // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,   // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,   // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,   // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,   // E8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,   // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,   // F8
};

std::optional<std::vector<char32_t>> decodeUtf8(std::string_view s) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) return std::nullopt;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto cont = static_cast<unsigned char>(s[i + k]);
            if ((cont & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (cont & 0x3F);
        }
        out.push_back(c);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {   // the code page's characters all lie below U+10000
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::optional<std::string> toLatin1(std::string_view utf8) {
    auto chars = decodeUtf8(utf8);
    if (!chars) return std::nullopt;
    std::string out;
    for (char32_t c : *chars) {
        if (c > 0xFF) return std::nullopt;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::optional<std::string> toCp850(std::string_view utf8) {
    auto chars = decodeUtf8(utf8);
    if (!chars) return std::nullopt;
    std::string out;
    for (char32_t c : *chars) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        int found = -1;
        for (int i = 0; i < 128 && found < 0; ++i)
            if (kCp850[i] == c) found = i;
        if (found < 0) return std::nullopt;
        out.push_back(static_cast<char>(0x80 + found));
    }
    return out;
}

std::string fromLatin1(std::string_view latin1) {
    std::string out;
    for (char c : latin1) appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string fromCp850(std::string_view cp850) {
    std::string out;
    for (char c : cp850) {
        auto b = static_cast<unsigned char>(c);
        appendUtf8(out, b < 0x80 ? char32_t{b} : kCp850[b - 0x80]);
    }
    return out;
}

}  // namespace kvsim
