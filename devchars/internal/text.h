// Text helpers of the device-characteristics decoders: printer texts seen as
// C texts, and numbers read leniently from the start of a text the way atol
// and atof read them, but independent of the locale and without undefined
// results on overflow.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace kvpo {

// `s` up to its first 0 byte: the printer's names and entries are C texts.
inline std::string_view cText(std::string_view s) { return s.substr(0, s.find('\0')); }

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Index of the first character of `s` after leading white space and an
// optional sign; `negative` tells the sign.
inline size_t afterSign(std::string_view s, bool& negative) {
    size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    return i;
}

// The whole number at the start of `s`, as atol reads it: white space, a sign,
// then digits up to the first non-digit; 0 without digits. Saturated to 32 bits.
// `end` (if given) receives the index after the last digit, 0 when there is none.
inline int32_t leadingLong(std::string_view s, size_t* end = nullptr) {
    bool negative = false;
    size_t i = afterSign(s, negative);
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t v = 0;
    size_t digits = i;
    for (; i < s.size() && isDigit(s[i]); ++i)
        if ((v = v * 10 + (s[i] - '0')) > limit) v = limit;
    if (end) *end = i > digits ? i : 0;
    return static_cast<int32_t>(negative ? -v : v);
}

// The decimal number at the start of `s`, as atof reads it (digits, a decimal
// point, an exponent), with "." as decimal point whatever the locale. 0 when
// no number begins there or it lies outside the range of a double.
inline double leadingDouble(std::string_view s) {
    bool negative = false;
    size_t i = afterSign(s, negative);
    if (i >= s.size() || !(isDigit(s[i]) || s[i] == '.')) return 0.0;
    double v = 0.0;
    auto [ptr, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v, std::chars_format::general);
    (void)ptr;
    if (ec != std::errc()) return 0.0;
    return negative ? -v : v;
}

}  // namespace kvpo
