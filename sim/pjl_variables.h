// The PJL names of the object-model variables (docs/simulator.md, "PJL"):
// which id a PJL environment variable carries and how its bytes read as PJL
// text. The one variable map of the project, kept as data in
// sim/pjl_variables.tsv and compiled in: the simulator answers PJL from it,
// and the net:// backend reads and writes a printer's variables through it.
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
    std::string word;   // upper case
};

// The SNMP object the net:// backend reads and writes a variable through
// instead of PJL when the printer answers SNMP (the map's "snmp" field).
enum class SnmpObject : uint8_t {
    None,
    ConsoleDisable,   // prtConsoleDisable: a choice of 0 (enabled, 3) and 1 (disabled, 4)
    SysContact,       // sysContact, text
    SerialNumber,     // prtGeneralSerialNumber, text, read-only
};

struct PjlVariable {
    uint16_t id;
    std::string name;   // upper case
    PjlCodec codec;
    uint8_t width;      // bytes of a Number or Choice value (1, 2 or 4); 0 for Word and Text
    bool readOnly;      // the backend never writes it
    std::vector<PjlChoice> choices;
    SnmpObject snmp = SnmpObject::None;
};

// The map's text, sim/pjl_variables.tsv as compiled in.
std::string_view pjlVariableMapText();
// The variables a map's text lists; none for text that is no map, and
// `error` says why ("line 12: unknown codec \"float\"").
std::optional<std::vector<PjlVariable>> parsePjlVariableMap(std::string_view text, std::string* error);

// The compiled-in map, parsed at its first use. Should it not parse, the
// map is empty (no variable carried over PJL) and standard error says why.
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
