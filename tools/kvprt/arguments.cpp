#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kvprt {
namespace {

std::string normaliseNumber(std::string& text) {
    const std::string expected = "'" + text + "' is not a number (decimal, or hexadecimal after 0x)";
    const bool negative = !text.empty() && text[0] == '-';
    std::string digits = text.substr(negative ? 1 : 0);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        base = 16;
    }
    const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) return expected;
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE) return "'" + text + "' is too large a number";
    text = (negative && value != 0 ? "-" : "") + std::to_string(value);
    return "";
}

std::string checkSeconds(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > kMaxSeconds)
        return "expected seconds above 0 and at most " + std::to_string(static_cast<long>(kMaxSeconds)) + ": " + text;
    return "";
}

std::string checkStorageName(const std::string& name) {
    if (name.empty() || name.size() > 255) return "a file name has 1 to 255 characters";
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == ';')
            return "a file name may not hold control characters or \";\"";
    return "";
}

}  // namespace

const CLI::Validator kNumber(normaliseNumber, "NUMBER", "number");
const CLI::Validator kSeconds(checkSeconds, "SECONDS", "seconds");
const CLI::Validator kStorageName(checkStorageName, "NAME", "storage name");

}  // namespace kvprt
