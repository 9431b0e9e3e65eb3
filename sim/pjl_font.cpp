#include "pjl_font.h"

#include <algorithm>
#include <strings.h>

#include "pjl_variables.h"

namespace kvsim {
namespace {

// Font tags by the letter of their FONTSOURCE: internal, soft (downloaded),
// cartridge, ROM module. A source's digit ("C1", "M2") names the slot; the
// tag does not keep it.
constexpr char kSources[] = {'I', 'S', 'C', 'M'};   // tags 1 to 4
constexpr uint16_t kSymbolSetId = 0x0110;            // the map's LPARM:PCL SYMSET
constexpr size_t kMaxDigits = 9;

bool digits(std::string_view s) {
    return !s.empty() && s.size() <= kMaxDigits && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "12", "10.00", "12.5": rounded half up to a whole number.
std::optional<uint32_t> wholeNumber(std::string_view s) {
    const size_t dot = s.find('.');
    const std::string_view whole = s.substr(0, dot), fraction = dot == std::string_view::npos ? "" : s.substr(dot + 1);
    if (!digits(whole) || (dot != std::string_view::npos && !digits(fraction))) return std::nullopt;
    return static_cast<uint32_t>(std::stoul(std::string(whole)) + (!fraction.empty() && fraction[0] >= '5'));
}

}  // namespace

const PjlFontVariable* pjlFontVariable(std::string_view name) {
    auto it = std::find_if(kPjlFontVariables.begin(), kPjlFontVariables.end(), [&](const PjlFontVariable& v) {
        return std::string_view(v.name).size() == name.size() && ::strncasecmp(v.name, name.data(), name.size()) == 0;
    });
    return it == kPjlFontVariables.end() ? nullptr : &*it;
}

std::optional<std::string> pjlFontText(PjlFontField field, const CurrentFont& font) {
    switch (field) {
    case PjlFontField::Source:
        if (font.tag == 0 || font.tag > std::size(kSources)) return std::nullopt;
        return std::string(1, kSources[font.tag - 1]);
    case PjlFontField::Number: return std::to_string(font.position);
    case PjlFontField::Pitch:
    case PjlFontField::PointSize: return std::to_string(font.size);
    case PjlFontField::SymbolSet: {
        const PjlVariable* v = pjlVariable(kSymbolSetId);
        return v ? pjlText(*v, {static_cast<uint8_t>(font.symbolSet >> 8), static_cast<uint8_t>(font.symbolSet)})
                 : std::nullopt;
    }
    }
    return std::nullopt;
}

bool setPjlFontField(PjlFontField field, std::string_view text, CurrentFont* font) {
    switch (field) {
    case PjlFontField::Source: {
        const char* letter = text.empty() ? nullptr : std::find(std::begin(kSources), std::end(kSources), text[0] & ~0x20);
        if (!letter || letter == std::end(kSources) || text.size() > 2 || (text.size() == 2 && !digits(text.substr(1))))
            return false;
        font->tag = static_cast<uint8_t>(letter - std::begin(kSources) + 1);
        return true;
    }
    case PjlFontField::Number: {
        auto n = digits(text) ? wholeNumber(text) : std::nullopt;
        if (!n || *n > UINT16_MAX) return false;
        font->position = static_cast<uint16_t>(*n);
        return true;
    }
    case PjlFontField::Pitch:
    case PjlFontField::PointSize: {
        auto n = wholeNumber(text);
        if (!n) return false;
        font->size = *n;
        return true;
    }
    case PjlFontField::SymbolSet: {
        const PjlVariable* v = pjlVariable(kSymbolSetId);
        auto value = v ? pjlValue(*v, text, 2) : std::nullopt;
        if (!value) return false;
        font->symbolSet = static_cast<uint16_t>((*value)[0] << 8 | (*value)[1]);
        return true;
    }
    }
    return false;
}

}  // namespace kvsim
