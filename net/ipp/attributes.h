// IPP attributes decoded into plain values, so that the fill never touches
// libcups types: every value a response may carry, bounded in count and size
// by the codec (codec.h).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvnet::ipp {

struct AttributeValue {
    enum class Kind : uint8_t { Integer, Enum, Boolean, Text, Keyword, Range, Resolution, Date, Collection, Other };
    Kind kind = Kind::Other;
    int32_t number = 0, upper = 0;   // Integer, Enum, Boolean; Range (number..upper); Resolution (x, y)
    // Text, Keyword (also names, URIs, MIME types, octet strings); Resolution:
    // "dpi" or "dpcm"; Collection: its members flattened as
    // "name=value;outer.inner=value;" (values of a set joined by ',').
    std::string text;

    bool operator==(const AttributeValue&) const = default;
};

// One attribute group (the printer's, or one job's): name -> values.
using Attributes = std::map<std::string, std::vector<AttributeValue>>;

struct Response {
    int status = 0;          // IPP status code
    std::string message;     // status-message, when the printer sent one
    Attributes printer;      // printer-attributes-tag group
    std::vector<Attributes> jobs;   // one per job-attributes-tag group
};

// The first value of `name` as a number / text, or `fallback`.
int32_t numberOf(const Attributes& group, const std::string& name, int32_t fallback);
std::string textOf(const Attributes& group, const std::string& name, const std::string& fallback = "");
// Every value of `name` as text (a 1setOf of one value is a list of one).
std::vector<std::string> textsOf(const Attributes& group, const std::string& name);
// Every value of `name` as a number; values that are not numbers give `fallback`.
std::vector<int32_t> numbersOf(const Attributes& group, const std::string& name, int32_t fallback);

// The members of a PWG structured text or a flattened collection,
// "index=1;class=supplyThatIsConsumed;level=75;": key -> value. Keys are
// lowercased; a member without '=' is skipped; at most kMaxMembers.
using Members = std::map<std::string, std::string>;
Members membersOf(std::string_view text);
constexpr size_t kMaxMembers = 32;
// A member as a decimal number (sign allowed, within 32 bits).
std::optional<int32_t> memberNumber(const Members& members, const std::string& key);
std::string memberText(const Members& members, const std::string& key);

// A keyword without case and without '-' or '_': "waste-toner", "wasteToner"
// and "WASTE_TONER" all become "wastetoner", so the printers' spellings of
// one MIB or CUPS name compare equal.
std::string foldKeyword(std::string_view keyword);

// A printer's UTF-8 text as the library's ISO 8859-1, made one line and cut
// to `max` bytes (invalid UTF-8 becomes '?').
std::string latin1Line(std::string_view utf8, size_t max);

}  // namespace kvnet::ipp
