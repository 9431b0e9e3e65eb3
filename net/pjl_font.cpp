// The current font through PJL (requests 0x96, 0x97; docs/realprinters.md,
// "PJL"): the PCL variables of sim/pjl_font.h, read with DINQUIRE in one
// block, written with DEFAULT and read back in the same block.
#include <tuple>

#include "core.h"
#include "pjl_font.h"

namespace kvnet {
namespace {

using kvsim::PjlFontField;

// The font the printer's answers to the DINQUIREs of kPjlFontVariables
// give; none when one is no such answer (`*badReply`), or when the printer
// lacks a field or holds one the font cannot carry. The size is the
// pitch, or the point size where the printer has no pitch; `sizeField`
// says which.
std::optional<kvsim::CurrentFont> fontOf(const std::vector<std::string>& replies, bool* badReply,
                                         PjlFontField* sizeField) {
    kvsim::CurrentFont font;
    bool pitch = false, pointSize = false;
    for (size_t i = 0; i < kvsim::kPjlFontVariables.size(); ++i) {
        const kvsim::PjlFontVariable& v = kvsim::kPjlFontVariables[i];
        auto inquiry = i < replies.size() ? pjl::parseInquiry(replies[i]) : std::nullopt;
        if (!inquiry || kvsim::pjlFontVariable(inquiry->variable) != &v) {
            *badReply = true;
            return std::nullopt;
        }
        const bool size = v.field == PjlFontField::Pitch || v.field == PjlFontField::PointSize;
        kvsim::CurrentFont read = font;
        const bool known = inquiry->known && kvsim::setPjlFontField(v.field, inquiry->value, &read);
        if (!known && !size) return std::nullopt;
        if (!known || (v.field == PjlFontField::PointSize && pitch)) continue;
        font = read;
        (v.field == PjlFontField::Pitch ? pitch : pointSize) = true;
    }
    if (!pitch && !pointSize) return std::nullopt;
    *sizeField = pitch ? PjlFontField::Pitch : PjlFontField::PointSize;
    return font;
}

pjl::Request inquiries() {
    pjl::Request request;
    for (const kvsim::PjlFontVariable& v : kvsim::kPjlFontVariables) request.dinquire(v.name);
    return request;
}

bool sameFont(const kvsim::CurrentFont& a, const kvsim::CurrentFont& b) {
    return std::tie(a.tag, a.position, a.symbolSet, a.size) == std::tie(b.tag, b.position, b.symbolSet, b.size);
}

}  // namespace

long NetPrinter::Core::readPjlFont(kvsim::CurrentFont* font, kvsim::PjlFontField* sizeField) {
    std::vector<std::string> replies;
    if (long rc = pjlExchange(inquiries(), kvsim::kPjlFontVariables.size(), &replies); rc != BCE_OK) return rc;
    bool badReply = false;
    auto read = fontOf(replies, &badReply, sizeField);
    if (!read) return badReply ? BCE_E_BAD_REPLY : BCE_E_INVALID;
    *font = *read;
    return BCE_OK;
}

// The fields that differ from the printer's are written (defaults live in
// memory that wears), and the font read back in the same block: status 0
// when it reads back as asked, else 1. A field PJL cannot carry sends
// nothing (-3).
long NetPrinter::Core::writePjlFont(const kvsim::CurrentFont& wanted, uint8_t* status) {
    for (const kvsim::PjlFontVariable& v : kvsim::kPjlFontVariables)
        if (!kvsim::pjlFontText(v.field, wanted)) return BCE_E_INVALID;
    kvsim::CurrentFont current;
    PjlFontField sizeField{};
    if (long rc = readPjlFont(&current, &sizeField); rc != BCE_OK) return rc;
    *status = 0;
    if (sameFont(current, wanted)) return BCE_OK;

    pjl::Request write;
    for (const kvsim::PjlFontVariable& v : kvsim::kPjlFontVariables) {
        const bool size = v.field == PjlFontField::Pitch || v.field == PjlFontField::PointSize;
        if (size && v.field != sizeField) continue;
        if (pjlFontText(v.field, current) != pjlFontText(v.field, wanted) &&
            !write.setDefault(v.name, *pjlFontText(v.field, wanted)))
            return BCE_E_INVALID;
    }
    for (const kvsim::PjlFontVariable& v : kvsim::kPjlFontVariables) write.dinquire(v.name);
    std::vector<std::string> replies;
    if (long rc = pjlExchange(write, kvsim::kPjlFontVariables.size(), &replies); rc != BCE_OK) return rc;
    bool badReply = false;
    auto read = fontOf(replies, &badReply, &sizeField);
    if (badReply) return BCE_E_BAD_REPLY;
    *status = read && sameFont(*read, wanted) ? 0 : 1;
    return BCE_OK;
}

}  // namespace kvnet
