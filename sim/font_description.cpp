#include "font_description.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace kvsim {
namespace {

// The keys of the description, in its order.
enum FontKey : size_t {
    kName, kPosition, kTechnology, kSsid, kCcid, kSpacing, kPitch, kHeight, kStyle, kWeight, kTypeface, kResolution,
    kKeyCount
};
constexpr std::string_view kKeys[kKeyCount] = {"name",  "position", "technology", "ssid",   "ccid",     "spacing",
                                               "pitch", "height",   "style",      "weight", "typeface", "resolution"};

// The four plain numbers, in the description's order.
constexpr std::optional<uint32_t> FontFields::*kNumbers[] = {&FontFields::style, &FontFields::weight,
                                                              &FontFields::typeface, &FontFields::resolution};

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A symbol-set id in its number-and-letter form: id / 32 followed by the
// letter of id % 32 (277 is "8U", 14 is "0N"); an id whose remainder is no
// letter is written in decimal.
std::string symbolSetText(uint16_t id) {
    const unsigned letter = id % 32;
    if (letter >= 1 && letter <= 26) return std::to_string(id / 32) + static_cast<char>('A' + letter - 1);
    return std::to_string(id);
}

std::string decimalText(double v) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

// A whole text of decimal digits up to `max`.
std::optional<uint32_t> unsignedIn(std::string_view text, uint32_t max) {
    uint32_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return std::nullopt;
    return v;
}

std::optional<uint16_t> symbolSetIn(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char last = text.back();
    if (last < 'A' || last > 'Z') {
        auto id = unsignedIn(text, 0xFFFF);
        return id ? std::optional<uint16_t>(static_cast<uint16_t>(*id)) : std::nullopt;
    }
    auto number = unsignedIn(text.substr(0, text.size() - 1), 0xFFFF);
    if (!number) return std::nullopt;
    uint32_t id = *number * 32 + static_cast<uint32_t>(last - 'A' + 1);
    return id <= 0xFFFF ? std::optional<uint16_t>(static_cast<uint16_t>(id)) : std::nullopt;
}

std::optional<std::array<uint8_t, 8>> complementIn(std::string_view text) {
    std::array<uint8_t, 8> bytes{};
    if (text.size() != 2 * bytes.size()) return std::nullopt;
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto byte = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
        if (byte.ec != std::errc() || byte.ptr != text.data() + 2 * i + 2) return std::nullopt;
    }
    return bytes;
}

std::optional<double> sizeIn(std::string_view text) {
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    // -0 is left to the description itself: JSON would write it as 0.
    if (ec != std::errc() || end != text.data() + text.size() || !(v >= 0 && v <= kMaxFontSize) || std::signbit(v))
        return std::nullopt;
    return v;
}

std::optional<std::string> textIn(std::string_view text, size_t maxLength) {
    if (text.size() > maxLength) return std::nullopt;
    return std::string(text);
}

// Sets the field of `key` from its value text; false when the value is not one that field takes.
bool setField(FontFields& f, size_t key, std::string_view value) {
    auto set = [](auto& field, auto parsed) {
        using Value = typename std::remove_reference_t<decltype(field)>::value_type;
        if (parsed) field = static_cast<Value>(*parsed);
        return parsed.has_value();
    };
    switch (key) {
    case kName: return set(f.name, textIn(value, kMaxFontName));
    case kPosition: return set(f.position, unsignedIn(value, 0xFFFF));
    case kTechnology: return set(f.technology, textIn(value, kMaxFontTechnology));
    case kSsid: return set(f.symbolSet, symbolSetIn(value));
    case kCcid: return set(f.charComplement, complementIn(value));
    case kSpacing: return set(f.spacing, unsignedIn(value, 1));
    case kPitch: return set(f.pitch, sizeIn(value));
    case kHeight: return set(f.height, sizeIn(value));
    default: return set(f.*kNumbers[key - kStyle], unsignedIn(value, kMaxFontNumber));
    }
}

}  // namespace

std::string fontDescription(const FontFields& f) {
    std::string out;
    auto item = [&](FontKey key, const std::string& value) {
        out.append(kKeys[key]).append(": ").append(value).append("; ");
    };
    if (f.name) item(kName, *f.name);
    if (f.position) item(kPosition, std::to_string(*f.position));
    if (f.technology) item(kTechnology, *f.technology);
    if (f.symbolSet) item(kSsid, symbolSetText(*f.symbolSet));
    if (f.charComplement) {
        std::string digits;
        for (uint8_t b : *f.charComplement) digits += {kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
        item(kCcid, digits);
    }
    if (f.spacing) item(kSpacing, std::to_string(*f.spacing));
    if (f.pitch) item(kPitch, decimalText(*f.pitch));
    if (f.height) item(kHeight, decimalText(*f.height));
    for (size_t i = 0; i < std::size(kNumbers); ++i)
        if (f.*kNumbers[i]) item(static_cast<FontKey>(kStyle + i), std::to_string(*(f.*kNumbers[i])));
    return out;
}

std::optional<FontFields> fontFields(std::string_view description) {
    FontFields f;
    std::string_view rest = description;
    for (size_t key = 0; !rest.empty(); ++key) {
        // The next key present, then its value up to "; ".
        while (key < kKeyCount && !(rest.starts_with(kKeys[key]) && rest.substr(kKeys[key].size()).starts_with(": ")))
            ++key;
        if (key == kKeyCount) return std::nullopt;
        rest.remove_prefix(kKeys[key].size() + 2);
        const size_t end = rest.find("; ");
        if (end == std::string_view::npos || !setField(f, key, rest.substr(0, end))) return std::nullopt;
        rest.remove_prefix(end + 2);
    }
    // A value may hold "; " or have several spellings: only exact rebuilds count.
    if (fontDescription(f) != description) return std::nullopt;
    return f;
}

}  // namespace kvsim
