#include "pjl_variables.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <strings.h>

namespace kvsim {
namespace {

bool validWidth(size_t width) { return width == 1 || width == 2 || width == 4; }

uint64_t maxOf(size_t width) { return (uint64_t{1} << (8 * width)) - 1; }

std::optional<uint64_t> numberOf(const std::vector<uint8_t>& value) {
    if (!validWidth(value.size())) return std::nullopt;
    uint64_t n = 0;
    for (uint8_t b : value) n = n << 8 | b;
    return n;
}

// `n` in `width` bytes, most significant first (built backwards: GCC 12's
// optimised build warns falsely about a loop counting down).
std::vector<uint8_t> bytesOf(uint64_t n, size_t width) {
    std::vector<uint8_t> out;
    out.reserve(width);
    for (size_t i = 0; i < width; ++i, n >>= 8) out.push_back(static_cast<uint8_t>(n));
    std::reverse(out.begin(), out.end());
    return out;
}

bool wordText(std::string_view s) {
    return !s.empty() && s.size() <= 255 &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

bool quotableText(std::string_view s) {
    return s.size() <= 255 && std::all_of(s.begin(), s.end(), [](char c) {
               auto u = static_cast<unsigned char>(c);
               return u >= 0x20 && u != 0x7F && c != '"';
           });
}

}  // namespace

std::span<const PjlVariable> pjlVariables() {
    static const std::vector<PjlVariable> map = [] {
        std::string error;
        auto parsed = parsePjlVariableMap(pjlVariableMapText(), &error);
        if (!parsed) std::fprintf(stderr, "kvprtsim: the PJL variable map: %s\n", error.c_str());
        return parsed.value_or(std::vector<PjlVariable>{});
    }();
    return map;
}

const PjlVariable* pjlVariable(uint16_t id) {
    auto map = pjlVariables();
    auto it = std::find_if(map.begin(), map.end(), [&](const PjlVariable& v) { return v.id == id; });
    return it == map.end() ? nullptr : &*it;
}

const PjlVariable* pjlVariable(std::string_view name) {
    auto map = pjlVariables();
    auto it = std::find_if(map.begin(), map.end(), [&](const PjlVariable& v) {
        return v.name.size() == name.size() && ::strncasecmp(v.name.data(), name.data(), name.size()) == 0;
    });
    return it == map.end() ? nullptr : &*it;
}

std::optional<std::string> pjlText(const PjlVariable& variable, const std::vector<uint8_t>& value) {
    std::string text(value.begin(), value.end());
    switch (variable.codec) {
    case PjlCodec::Number:
        if (auto n = numberOf(value)) return std::to_string(*n);
        return std::nullopt;
    case PjlCodec::Choice:
        if (auto n = numberOf(value))
            for (const PjlChoice& c : variable.choices)
                if (c.value == *n) return c.word;
        return std::nullopt;
    case PjlCodec::Word:
        if (wordText(text)) return text;
        return std::nullopt;
    case PjlCodec::Text:
        if (quotableText(text)) return "\"" + text + "\"";
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> pjlValue(const PjlVariable& variable, std::string_view text, size_t width) {
    switch (variable.codec) {
    case PjlCodec::Number: {
        if (!validWidth(width) || text.empty() || text.size() > 10 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        uint64_t n = std::stoull(std::string(text));
        if (n > maxOf(width)) return std::nullopt;
        return bytesOf(n, width);
    }
    case PjlCodec::Choice:
        if (!validWidth(width)) return std::nullopt;
        for (const PjlChoice& c : variable.choices)
            if (text.size() == c.word.size() && ::strncasecmp(c.word.data(), text.data(), text.size()) == 0 &&
                c.value <= maxOf(width))
                return bytesOf(c.value, width);
        return std::nullopt;
    case PjlCodec::Word: {
        if (!wordText(text)) return std::nullopt;
        std::string upper(text);
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return std::vector<uint8_t>(upper.begin(), upper.end());
    }
    case PjlCodec::Text:
        if (!quotableText(text)) return std::nullopt;
        return std::vector<uint8_t>(text.begin(), text.end());
    }
    return std::nullopt;
}

std::string pjlOptions(const PjlVariable& variable, size_t width, bool readOnly) {
    const std::string ro = readOnly ? " READONLY" : "";
    switch (variable.codec) {
    case PjlCodec::Number:
        return "[2 RANGE" + ro + "]\r\n\t0\r\n\t" + std::to_string(validWidth(width) ? maxOf(width) : 0) + "\r\n";
    case PjlCodec::Choice: {
        std::string items;
        size_t n = 0;
        for (const PjlChoice& c : variable.choices)
            if (validWidth(width) && c.value <= maxOf(width)) {
                items.append("\t").append(c.word).append("\r\n");
                ++n;
            }
        return std::string("[").append(std::to_string(n)).append(" ENUMERATED").append(ro).append("]\r\n").append(items);
    }
    case PjlCodec::Word:
        return "[0 ENUMERATED" + ro + "]\r\n";
    case PjlCodec::Text:
        return "[0 STRING" + ro + "]\r\n";
    }
    return "";
}

}  // namespace kvsim
