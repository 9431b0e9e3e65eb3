// Font descriptions: the keyed items by which the printer describes a font,
// parsed into a _FONTDETAILS record.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "devchars/internal/text.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/results.h"

namespace {

using F = _FONTDETAILS;

struct Technology {
    std::string_view value;
    uint8_t technology;
    uint16_t flags;
};

constexpr Technology kTechnologies[] = {
    {"bitmap", F::TECH_BITMAP, 0},
    {"Intellifont", F::TECH_INTELLIFONT, F::FONT_SCALABLE},
    {"TrueType", F::TECH_TRUETYPE, F::FONT_SCALABLE},
};

// Pitch and height: the value times 100, truncated to 32 bits, then rounded
// to a whole number on its first two decimals.
uint32_t roundedSize(std::string_view value) {
    const double scaled = kvpo::leadingDouble(value) * 100.0;
    const int32_t x = scaled >= 2147483647.0    ? INT32_MAX
                      : scaled <= double{INT32_MIN} ? INT32_MIN
                                                : static_cast<int32_t>(scaled);
    const int32_t q = x / 100;
    return static_cast<uint32_t>(x % 100 >= 50 ? q + 1 : q);
}

// A symbol-set id written as its decimal number, or as a number and a letter
// ("10U"): number * 32 + the letter's place in the alphabet.
uint16_t symbolSetId(std::string_view value) {
    size_t end = 0;
    const int64_t n = kvpo::leadingLong(value, &end);
    if (end != 0 && end < value.size()) {
        const char c = value[end];
        if (c >= 'A' && c <= 'Z') return static_cast<uint16_t>(n * 32 + (c - 'A' + 1));
        if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(n * 32 + (c - 'a' + 1));
    }
    return static_cast<uint16_t>(n);
}

// Character complement: byte i from the hexadecimal digit pair at 2i, read as
// strtoul reads it; pairs past the end of the value read as 0.
void readCharComplement(std::string_view value, uint8_t (&bytes)[8]) {
    for (size_t i = 0; i < 8; ++i) {
        char pair[3] = {0, 0, 0};
        if (2 * i < value.size()) pair[0] = value[2 * i];
        if (2 * i + 1 < value.size()) pair[1] = value[2 * i + 1];
        bytes[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16));
    }
}

struct Key {
    std::string_view key;
    void (*apply)(std::string_view value, F& f);
};

constexpr Key kKeys[] = {
    {"name", [](std::string_view v, F& f) { f.strName = CString(v); }},
    {"position", [](std::string_view v, F& f) { f.usPosition = static_cast<uint16_t>(kvpo::leadingLong(v)); }},
    {"technology",
     [](std::string_view v, F& f) {
         for (const Technology& t : kTechnologies) {
             if (t.value == v) {
                 f.byTechnology = t.technology;
                 f.usValidFlags |= t.flags;
             }
         }
     }},
    {"ssid",
     [](std::string_view v, F& f) {
         f.usSymbolSet = symbolSetId(v);
         f.usValidFlags |= F::FONT_SYMBOLSET;
     }},
    {"ccid",
     [](std::string_view v, F& f) {
         readCharComplement(v, f.abCharComplement);
         f.usValidFlags |= F::FONT_CHARCOMPLEMENT;
     }},
    {"spacing",
     [](std::string_view v, F& f) {
         if (v == "0") f.bySpacing = 0;
         if (v == "1") f.bySpacing = 1;
     }},
    {"pitch",
     [](std::string_view v, F& f) {
         f.ulSize = roundedSize(v);
         f.usValidFlags |= F::FONT_PITCH;
     }},
    {"height",
     [](std::string_view v, F& f) {
         f.ulSize = roundedSize(v);
         f.usValidFlags |= F::FONT_HEIGHT;
     }},
    {"style", [](std::string_view v, F& f) { f.lStyle = kvpo::leadingLong(v); }},
    {"weight", [](std::string_view v, F& f) { f.lWeight = kvpo::leadingLong(v); }},
    {"typeface", [](std::string_view v, F& f) { f.lTypeface = kvpo::leadingLong(v); }},
    {"resolution", [](std::string_view v, F& f) { f.lResolution = kvpo::leadingLong(v); }},
};

}  // namespace

// Parses one font description of `length` bytes into `details` (not reset
// first). Items: key, ":" and at least one space, value up to ";", one
// character skipped, then spaces. The text ends at its first 0 byte or at
// `length`, whichever comes first; nothing past it is read. Each consumed
// ":" and ";" is overwritten with 0 in place. Returns 0, or -3 when an item
// has no ":", no space right after its ":", or no ";" after its value
// (items before it stay applied); -18 for a null pointer.
//   "ssid": the leading decimal number n of the value; when a letter
//   follows it directly, usSymbolSet = n * 32 + the letter's place in the
//   alphabet (A or a = 1 ... Z or z = 26), the usual text form of a binary
//   symbol-set id ("10U" is 341); otherwise usSymbolSet = n, the id itself
//   in decimal. Taken to 16 bits.
//   "ccid": digit pairs past the end of a value shorter than 16 digits are 0.
//   Whole numbers read as atol does, saturated to 32 bits ("position" then
//   taken to 16 bits); "pitch" and "height" as atof does (decimal point
//   whatever the locale), values beyond 32 bits after the scaling by 100
//   saturate, a value that is not a number gives 0.
long KVPrtObj::parseFontDescription(void* description, unsigned short length, _FONTDETAILS* details) {
    if (description == nullptr || details == nullptr) return kvpo::kNullArgument;
    char* const text = static_cast<char*>(description);
    const size_t end = kvpo::cText(std::string_view(text, length)).size();
    char* const last = text + end;

    size_t pos = 0;
    while (pos + 1 < end) {
        char* const colon = std::find(text + pos, last, ':');
        if (colon == last) return BCE_E_INVALID;
        *colon = '\0';
        const std::string_view key(text + pos, static_cast<size_t>(colon - (text + pos)));

        // At least one space after the colon; "name" keeps it in its value.
        char* value = colon + 1;
        if (value == last || *value != ' ') return BCE_E_INVALID;
        if (key != "name")
            while (value != last && *value == ' ') ++value;
        char* const semicolon = std::find(value, last, ';');
        if (semicolon == last) return BCE_E_INVALID;
        *semicolon = '\0';

        // One character after the ";" is skipped whatever it is, then spaces.
        pos = static_cast<size_t>(semicolon - text) + 2;
        while (pos < end && text[pos] == ' ') ++pos;

        for (const Key& k : kKeys) {
            if (k.key == key) {
                k.apply(std::string_view(value, static_cast<size_t>(semicolon - value)), *details);
                break;
            }
        }
    }
    return BCE_OK;
}
