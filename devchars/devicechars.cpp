// Device characteristics: request 0x10, a reply of fixed offsets followed by
// three counted texts, the second of them the printer's base code level.
#include <utility>

#include "prtobj/internal/ask.h"

namespace {

// Offsets into the reply.
constexpr size_t kReply2 = 2;
constexpr size_t kReply7 = 7;
constexpr size_t kReply11 = 11;
constexpr size_t kByteCount = 19;   // 4 bytes, big-endian
constexpr size_t kTexts = 33;       // three counted texts, one after another

}  // namespace

// Request 0x10. The three texts are emptied first; a non-empty second text
// is also kept in the object for bidiGetCodeLevels. A null record gives -18
// (nothing sent). A reply that does not hold every fixed field and all three
// counted texts gives -2: the texts stay empty, the numeric fields and the
// kept code level as they were.
long KVPrtObj::bidiGetDeviceChars(DEVICECHARS* chars) {
    if (chars == nullptr) return kvpo::kNullArgument;
    chars->strText1.clear();
    chars->strCodeLevel.clear();
    chars->strText3.clear();

    auto [rc, reply] = kvpo::ask(*this, kvbidi::kDeviceChars);
    if (!reply) return rc;

    // Decoded whole or not at all: a reply cut short leaves the record as it is.
    auto r = reply.reader();
    DEVICECHARS decoded;
    decoded.byReply7 = r.byteAt(kReply7);
    decoded.ulReply2 = r.byteAt(kReply2);
    decoded.ulReply11 = r.byteAt(kReply11);
    r.seek(kByteCount);
    decoded.ulSizeKB = r.be32() >> 10;
    r.seek(kTexts);
    decoded.strText1 = r.countedText();
    decoded.strCodeLevel = r.countedText();
    decoded.strText3 = r.countedText();
    if (!r.ok()) return kvpo::kShortReply;

    if (!decoded.strCodeLevel.empty()) m_strCodeLevel = decoded.strCodeLevel;
    *chars = std::move(decoded);
    return BCE_OK;
}
