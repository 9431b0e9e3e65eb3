// Interpreters, fonts and symbol sets: the logical unit of an interpreter,
// the font list, the symbol-set list, and the current font.
#include <iterator>
#include <string_view>

#include "engine/wire/frame.h"
#include "prtobj/internal/ask.h"

namespace {

// Interpreter numbers 1..5 and the names the printer reports for them.
constexpr std::string_view kInterpreterNames[] = {
    "PCL 5 Emulation", "GL 1 Emulation", "PostScript Emulation", "WinImage", "PPDS",
};

// Interpreter 1 passes over entries whose bytes 7-8 hold this mark.
constexpr unsigned kPassedOverMark = 0xFFFF;

constexpr size_t kInterpreterEntryHeader = 16;   // logical unit .. name length
constexpr size_t kInterpreterMarkOffset = 7;
constexpr size_t kInterpreterNameLengthOffset = 15;

constexpr unsigned long kFontListFirstBuffer = 20000;
constexpr unsigned long kSymbolSetListFirstBuffer = 10000;
constexpr unsigned long kSetFontFirstBuffer = 1048576;

// The record that ends the font list: tag FE, second byte FF, no description.
constexpr unsigned kEndTag = 0xFE;
constexpr unsigned kEndSecondTag = 0xFF;
constexpr size_t kFontRecordHeader = 4;                 // tag, second tag, 16-bit description length
constexpr size_t kSymbolSetRecordMinimum = 2 + 8 + 1;   // id, character complement, name length

// An entry's name as a text ending at its first 0 byte; an entry without
// that byte has no name that could match.
bool nameIs(std::string_view field, std::string_view name) {
    size_t end = field.find('\0');
    return end != std::string_view::npos && field.substr(0, end) == name;
}

}  // namespace

// The logical unit of interpreter 1..5 (request 0x20): 0 and *lu set when
// found; 1 (interpreter 1 only) when nothing matched but an entry marked
// FF FF was passed over; -2 when not found. An entry name must end with a 0
// byte inside the entry, or it matches nothing. An entry that runs past the
// end of the reply ends the search with -2. *lu is written only on 0.
long KVPrtObj::bidiGetInterpreterLU(unsigned char interpreter, unsigned char* lu) {
    if (lu == nullptr) return kvpo::kNullArgument;
    unsigned char request[1] = {0xFF};
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kInterpreters, request);
    if (!reply) return rc;

    const bool known = interpreter >= 1 && interpreter <= std::size(kInterpreterNames);
    const std::string_view wanted = known ? kInterpreterNames[interpreter - 1] : std::string_view();
    auto r = reply.reader();
    const unsigned entries = r.u8();
    long result = kvpo::kNotFound;
    for (unsigned i = 0; i < entries && result != 0; ++i) {
        auto entry = r.sub(kInterpreterEntryHeader);
        const size_t nameLength = entry.byteAt(kInterpreterNameLengthOffset);
        auto name = r.sub(nameLength);
        if (!r.ok()) return kvpo::kShortReply;   // an entry running past the end of the reply

        entry.seek(kInterpreterMarkOffset);
        if (interpreter == 1 && entry.be16() == kPassedOverMark) {
            result = 1;
            continue;
        }
        if (known && nameIs(std::string_view(reinterpret_cast<const char*>(name.here()), name.size()), wanted)) {
            *lu = entry.byteAt(0);
            result = 0;
        }
    }
    return result;
}

// The font list (request 0x21, selector1, selector2, 0). *count is set to 0
// first, then counts the fonts decoded. With F fonts, *fonts receives a new
// array of F (nothing is allocated when F is 0; no more slots than the
// reply could hold records, one per 4 bytes, and one), every slot reset
// before it is decoded; slots after the end marker stay empty. Each description is
// parsed through parseFontDescription; its non-zero result ends the list
// and is returned, with the array kept and the failed font counted.
// A reply too short for its count and header gives -2 with *fonts untouched;
// a font record running past the end of the reply ends the list with -2,
// the array kept, that record neither counted nor filled.
long KVPrtObj::bidiGetFontDetails(unsigned char selector1, unsigned char selector2, unsigned short* count,
                                  _FONTDETAILS** fonts) {
    if (count == nullptr || fonts == nullptr) return kvpo::kNullArgument;
    *count = 0;
    unsigned char request[3] = {selector1, selector2, 0};
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kFontDetails, request, {.firstSize = kFontListFirstBuffer});
    if (!reply) return rc;

    auto r = reply.reader();
    r.skip(1);
    const unsigned n = r.be16();
    if (!r.ok()) return kvpo::kShortReply;
    if (n == 0) return BCE_OK;
    r.skip(r.u8());   // the header
    if (!r.ok()) return kvpo::kShortReply;

    // Every record, the end marker included, takes at least its 4 header bytes.
    _FONTDETAILS* array = kvpo::newRecords(n, r.remaining(), kFontRecordHeader, fonts).release();
    if (array == nullptr) return BCE_E_NO_MEMORY;
    *fonts = array;
    auto* bytes = static_cast<unsigned char*>(reply.data);
    for (unsigned i = 0; i < n; ++i) {
        _FONTDETAILS& font = array[i];
        font = _FONTDETAILS{};
        const unsigned tag = r.u8();
        const unsigned secondTag = r.u8();
        const unsigned length = r.be16();
        if (!r.ok()) return kvpo::kShortReply;
        if (tag == kEndTag && secondTag == kEndSecondTag && length == 0) {
            font.byFontTag = static_cast<uint8_t>(tag);
            break;
        }
        const size_t at = r.position();
        if (!r.skip(length)) return kvpo::kShortReply;
        font.byFontTag = static_cast<uint8_t>(tag);
        ++*count;
        if (long parsed = parseFontDescription(bytes + at, static_cast<unsigned short>(length), &font))
            return parsed;
    }
    return BCE_OK;
}

// Symbol sets (request 0x95): S records, each id, character complement and
// name. Success: *count = S and *sets a new array of S (allocated also when
// S is 0). Transport failure or -2: both untouched. A reply shorter than
// 11 bytes per announced record gives -2 before anything is allocated.
long KVPrtObj::bidiGetSymbolSetList(unsigned short* count, _SYMBOLSET** sets) {
    if (count == nullptr || sets == nullptr) return kvpo::kNullArgument;
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kSymbolSets, {}, {.firstSize = kSymbolSetListFirstBuffer});
    if (!reply) return rc;

    auto r = reply.reader();
    r.skip(1);
    const unsigned n = r.be16();
    if (!r.ok()) return kvpo::kShortReply;
    // Each record takes at least its id, complement and name length: a reply
    // too short for its count is refused before anything is allocated.
    if (static_cast<size_t>(n) * kSymbolSetRecordMinimum > r.remaining()) return kvpo::kShortReply;
    auto array = kvpo::newRecords(n, r.remaining(), kSymbolSetRecordMinimum, sets, count);
    if (!array) return BCE_E_NO_MEMORY;
    for (unsigned i = 0; i < n; ++i) {
        _SYMBOLSET& set = array[i];
        set.usSymbolSet = r.be16();
        r.raw(set.abCharComplement, sizeof set.abCharComplement);
        set.strName = r.countedText();
        if (!r.ok()) return kvpo::kShortReply;
    }
    *count = static_cast<unsigned short>(n);
    *sets = array.release();
    return BCE_OK;
}

long KVPrtObj::bidiGetCurrentFontInformation(_FONTDETAILS* font) {
    if (font == nullptr) return kvpo::kNullArgument;
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kCurrentFont);
    if (!reply) return rc;

    auto r = reply.reader();
    r.skip(1);
    const uint8_t tag = r.u8();
    const uint16_t position = r.be16();
    const uint16_t symbolSet = r.be16();
    const uint32_t size = r.be32();
    if (!r.ok()) return kvpo::kShortReply;
    font->byFontTag = tag;
    font->usPosition = position;
    font->usSymbolSet = symbolSet;
    font->ulSize = size;
    return rc;
}

long KVPrtObj::bidiSetCurrentFontInformation(_FONTDETAILS* font, unsigned char* status) {
    if (font == nullptr || status == nullptr) return kvpo::kNullArgument;
    auto request = kvwire::Writer().u8(font->byFontTag).be16(font->usPosition).be16(font->usSymbolSet).be32(font->ulSize).take();
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kSetCurrentFont, request, {.firstSize = kSetFontFirstBuffer});
    if (!reply) return rc;

    auto r = reply.reader();
    r.skip(1);
    const uint8_t statusByte = r.u8();
    if (!r.ok()) return kvpo::kShortReply;
    *status = statusByte;
    return rc;
}
