// The current font (requests 0x96, 0x97) as PCL's PJL variables, shared by
// the simulator's PJL side and the net:// backend (docs/realprinters.md,
// "PJL"): the font's tag is FONTSOURCE, its position FONTNUMBER, its
// symbol set SYMSET (the map's words of variable 01 10) and its size PITCH,
// or PTSIZE where a printer has no pitch.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "profile.h"

namespace kvsim {

enum class PjlFontField { Source, Number, Pitch, PointSize, SymbolSet };

struct PjlFontVariable {
    PjlFontField field;
    const char* name;
};

inline constexpr std::array<PjlFontVariable, 5> kPjlFontVariables = {{
    {PjlFontField::Source, "LPARM:PCL FONTSOURCE"},
    {PjlFontField::Number, "LPARM:PCL FONTNUMBER"},
    {PjlFontField::Pitch, "LPARM:PCL PITCH"},
    {PjlFontField::PointSize, "LPARM:PCL PTSIZE"},
    {PjlFontField::SymbolSet, "LPARM:PCL SYMSET"},
}};

const PjlFontVariable* pjlFontVariable(std::string_view name);   // any case

// The PJL text of a field of `font` (a DEFAULT's value, an INQUIRE's
// answer); none where the field has no PJL text (a tag without a source
// letter, a symbol set the map lacks).
std::optional<std::string> pjlFontText(PjlFontField field, const CurrentFont& font);
// `font` with the field the PJL text gives; false for text the field
// refuses. Sizes are rounded to whole numbers ("10.00", "12.5").
bool setPjlFontField(PjlFontField field, std::string_view text, CurrentFont* font);

}  // namespace kvsim
