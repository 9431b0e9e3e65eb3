// Reads the PJL variable map's text (sim/pjl_variables.tsv) into its
// variables, refusing any line it cannot read whole.
#include "pjl_variables.h"

#include <algorithm>
#include <charconv>

namespace kvsim {
namespace {

constexpr size_t kFields = 7;   // id, name, codec, width, access, choices, snmp
constexpr size_t kMaxName = 64;
constexpr size_t kMaxWord = 32;
constexpr size_t kMaxLines = 4096;

bool isUpperWordChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

// A PJL name: upper-case words, with the ':' and ' ' of "LPARM:PCL SYMSET".
bool validName(std::string_view s) {
    return !s.empty() && s.size() <= kMaxName && isUpperWordChar(s.front()) && isUpperWordChar(s.back()) &&
           std::all_of(s.begin(), s.end(), [](char c) { return isUpperWordChar(c) || c == ':' || c == ' '; });
}

bool validWord(std::string_view s) {
    return !s.empty() && s.size() <= kMaxWord && std::all_of(s.begin(), s.end(), isUpperWordChar);
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t end = s.find(separator, start);
        parts.push_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// A decimal or hexadecimal number wholly of `s`, at most `max`.
std::optional<unsigned> number(std::string_view s, int base, unsigned max) {
    unsigned n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || n > max) return std::nullopt;
    return n;
}

// "00 4D": two hexadecimal bytes.
std::optional<uint16_t> idOf(std::string_view s) {
    if (s.size() != 5 || s[2] != ' ') return std::nullopt;
    auto high = number(s.substr(0, 2), 16, 0xFF), low = number(s.substr(3), 16, 0xFF);
    if (!high || !low) return std::nullopt;
    return static_cast<uint16_t>(*high << 8 | *low);
}

std::optional<PjlCodec> codecOf(std::string_view s) {
    if (s == "number") return PjlCodec::Number;
    if (s == "choice") return PjlCodec::Choice;
    if (s == "word") return PjlCodec::Word;
    if (s == "text") return PjlCodec::Text;
    return std::nullopt;
}

// An SNMP object of the map's last field and whether the variable's codec
// fits it; none for a name the backend does not know.
std::optional<SnmpObject> snmpObjectOf(std::string_view s) {
    if (s == "-") return SnmpObject::None;
    if (s == "prtConsoleDisable") return SnmpObject::ConsoleDisable;
    if (s == "sysContact") return SnmpObject::SysContact;
    if (s == "prtGeneralSerialNumber") return SnmpObject::SerialNumber;
    return std::nullopt;
}

bool fits(const PjlVariable& v) {
    switch (v.snmp) {
    case SnmpObject::None: return true;
    case SnmpObject::ConsoleDisable: return v.codec == PjlCodec::Choice && v.width == 1;
    case SnmpObject::SysContact: return v.codec == PjlCodec::Text;
    case SnmpObject::SerialNumber: return v.codec == PjlCodec::Text && v.readOnly;
    }
    return false;
}

// One line's variable; the reason it is none.
std::optional<PjlVariable> variableOf(std::string_view line, std::string* why) {
    auto fail = [&](std::string reason) {
        *why = std::move(reason);
        return std::nullopt;
    };
    const auto f = split(line, '\t');
    if (f.size() != kFields) return fail("expected 7 fields separated by tabs, found " + std::to_string(f.size()));
    PjlVariable v{};
    auto id = idOf(f[0]);
    if (!id) return fail("bad id \"" + std::string(f[0]) + "\" (two hex bytes, \"01 0A\")");
    v.id = *id;
    if (!validName(f[1])) return fail("bad PJL name (upper-case words, at most 64 characters)");
    v.name = f[1];
    auto codec = codecOf(f[2]);
    if (!codec) return fail("unknown codec \"" + std::string(f[2]) + "\" (number, choice, word or text)");
    v.codec = *codec;
    const bool numeric = v.codec == PjlCodec::Number || v.codec == PjlCodec::Choice;
    auto width = numeric ? number(f[3], 10, 4) : std::nullopt;
    if (numeric ? !width || (*width != 1 && *width != 2 && *width != 4) : f[3] != "-")
        return fail("bad width \"" + std::string(f[3]) + "\" (1, 2 or 4 for number and choice, - otherwise)");
    v.width = static_cast<uint8_t>(width.value_or(0));
    if (f[4] != "rw" && f[4] != "ro") return fail("bad access \"" + std::string(f[4]) + "\" (rw or ro)");
    v.readOnly = f[4] == "ro";
    auto snmp = snmpObjectOf(f[6]);
    if (!snmp) return fail("unknown SNMP object \"" + std::string(f[6]) + "\"");
    v.snmp = *snmp;
    if (!fits(v)) return fail("SNMP object " + std::string(f[6]) + " does not fit the codec, width or access");
    if (v.codec != PjlCodec::Choice) {
        if (f[5] != "-") return fail("choices for a codec other than choice");
        return v;
    }
    const unsigned max = v.width == 1 ? 0xFF : 0xFFFF;   // choice values are 16-bit
    for (std::string_view item : split(f[5], ' ')) {
        const size_t eq = item.find('=');
        auto value = eq == std::string_view::npos ? std::nullopt : number(item.substr(0, eq), 10, max);
        const std::string_view word = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        if (!value || !validWord(word))
            return fail("bad choice \"" + std::string(item) + "\" (VALUE=WORD, the value fitting the width)");
        if (std::any_of(v.choices.begin(), v.choices.end(),
                        [&](const PjlChoice& c) { return c.value == *value || c.word == word; }))
            return fail("choice \"" + std::string(item) + "\" repeats a value or word");
        v.choices.push_back({static_cast<uint16_t>(*value), std::string(word)});
    }
    return v;
}

}  // namespace

std::optional<std::vector<PjlVariable>> parsePjlVariableMap(std::string_view text, std::string* error) {
    std::vector<PjlVariable> map;
    const auto lines = split(text, '\n');
    if (lines.size() > kMaxLines) {
        *error = "more than " + std::to_string(kMaxLines) + " lines";
        return std::nullopt;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty() || line.front() == '#') continue;
        std::string why;
        auto v = variableOf(line, &why);
        if (v && std::any_of(map.begin(), map.end(), [&](const PjlVariable& m) { return m.id == v->id; }))
            why = "id " + std::string(split(line, '\t')[0]) + " listed twice";
        else if (v && std::any_of(map.begin(), map.end(), [&](const PjlVariable& m) { return m.name == v->name; }))
            why = "PJL name " + v->name + " listed twice";
        else if (v) {
            map.push_back(std::move(*v));
            continue;
        }
        *error = "line " + std::to_string(i + 1) + ": " + why;
        return std::nullopt;
    }
    return map;
}

}  // namespace kvsim
