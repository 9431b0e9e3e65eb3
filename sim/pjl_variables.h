// The PJL names of the object-model variables (docs/simulator.md, "PJL"):
// which id a PJL environment variable carries and how its bytes read as PJL
// text. Standard PJL names where the PJL reference has one; the project's
// own names, prefixed KV, where it has none. The one variable map of the
// project: the simulator answers PJL from it, and the net:// backend reads
// and writes a printer's variables through it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

enum class PjlCodec {
    Number,   // big-endian unsigned of the value's width (1, 2 or 4 bytes), in decimal
    Choice,   // a number of the value's width, as one of the entry's words
    Word,     // ISO 8859-1 bytes that form one PJL word (letters, digits, "_")
    Text,     // ISO 8859-1 bytes, quoted; printable, without a quote
};

struct PjlChoice {
    uint16_t value;
    const char* word;
};

struct PjlVariable {
    uint16_t id;
    const char* name;   // upper case
    PjlCodec codec;
    uint8_t width;      // bytes of a Number or Choice value (1, 2 or 4); 0 for Word and Text
    bool readOnly;      // the backend never writes it
    std::span<const PjlChoice> choices = {};
};

std::span<const PjlVariable> pjlVariables();
const PjlVariable* pjlVariable(uint16_t id);
const PjlVariable* pjlVariable(std::string_view name);   // any case

// The PJL text of a value (quoted for Text); none for a value the codec
// cannot show (a number of another width, a choice it lacks).
std::optional<std::string> pjlText(const PjlVariable& variable, const std::vector<uint8_t>& value);
// The value a PJL text gives, numbers and choices `width` bytes wide; none
// for text the codec refuses.
std::optional<std::vector<uint8_t>> pjlValue(const PjlVariable& variable, std::string_view text, size_t width);
// INFO VARIABLES' "[n KIND]" and its n options for a value of `width` bytes.
std::string pjlOptions(const PjlVariable& variable, size_t width, bool readOnly);

}  // namespace kvsim
