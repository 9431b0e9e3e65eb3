// A font's description in the font list (request 0x21), as the printer
// writes it: "key: value; " for each field it has, in a fixed order. A
// profile gives either the fields, from which the description is built, or
// the description itself; a description is split back into fields where the
// fields build it again byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvsim {

// Bounds of the fields, as profiles may give them.
constexpr size_t kMaxFontName = 200;
constexpr size_t kMaxFontTechnology = 40;
constexpr double kMaxFontSize = 10000;   // pitch and height
constexpr uint32_t kMaxFontNumber = 0x7FFFFFFF;   // style, weight, typeface, resolution
// The longest description a profile may give as it is.
constexpr size_t kMaxFontDescription = 1024;

struct FontFields {
    std::optional<std::string> name;         // ISO 8859-1
    std::optional<uint16_t> position;
    std::optional<std::string> technology;   // ISO 8859-1
    std::optional<uint16_t> symbolSet;
    std::optional<std::array<uint8_t, 8>> charComplement;
    std::optional<uint8_t> spacing;          // 0 or 1
    std::optional<double> pitch, height;
    std::optional<uint32_t> style, weight, typeface, resolution;
};

// The description: "name: Courier; position: 1; ssid: 8U; " for the fields
// given, in the order name, position, technology, ssid, ccid, spacing, pitch,
// height, style, weight, typeface, resolution.
std::string fontDescription(const FontFields& fields);

// The fields that build `description` exactly, each within its bound;
// nothing when no such fields exist.
std::optional<FontFields> fontFields(std::string_view description);

}  // namespace kvsim
