#include "bytes.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace kvtest {

ByteVec hex(std::string_view text) {
    ByteVec out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument("hex: not a hex digit");
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("hex: odd number of digits");
    return out;
}

std::string toHex(const void* data, size_t length) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", static_cast<const uint8_t*>(data)[i]);
        out += b;
    }
    return out;
}

std::string toHex(const ByteVec& bytes) { return toHex(bytes.data(), bytes.size()); }

}  // namespace kvtest
