// Custom names of forms and output-bin nicknames: one read and one write,
// each with two request codes.
#include <cstring>
#include <utility>

#include "prtobj/internal/ask.h"

namespace {

// The longest name whose length + 1 fits the request's length byte.
constexpr size_t kMaxNameLength = 254;
constexpr size_t kEntryMinimum = 2;   // number and length

// Reply: one unused byte, the count N, then N entries of number, length L and
// L characters. Entries of length 0 or 1 give an empty name.
long readNames(KVPrtObj& printer, unsigned short code, _CUSTOMNAME** names, unsigned short* count) {
    if (names == nullptr || count == nullptr) return kvpo::kNullArgument;
    auto [rc, reply] = kvpo::ask(printer, code);
    if (!reply) return rc;

    auto r = reply.reader();
    r.skip(1);
    const unsigned entries = r.u8();
    auto array = kvpo::newRecords<_CUSTOMNAME>(entries, r.remaining(), kEntryMinimum);
    if (!array) return BCE_E_NO_MEMORY;
    for (unsigned i = 0; i < entries && r.ok(); ++i) {
        array[i].usNumber = r.u8();
        size_t length = r.u8();
        CString name = r.text(length);
        if (length > 1) array[i].strName = std::move(name);
    }
    if (!r.ok()) return kvpo::kShortReply;

    *count = static_cast<unsigned short>(entries);
    if (entries != 0) *names = array.release();
    return BCE_OK;
}

// Request data: 1, the number's low byte, the name's length + 1, the name and a 0 byte.
long writeName(KVPrtObj& printer, unsigned short code, unsigned short number, const CString& name) {
    if (name.size() > kMaxNameLength) return BCE_E_INVALID;
    unsigned char request[3 + kMaxNameLength + 1];
    request[0] = 1;
    request[1] = static_cast<unsigned char>(number & 0xFF);
    request[2] = static_cast<unsigned char>(name.size() + 1);
    std::memcpy(request + 3, name.data(), name.size());
    request[3 + name.size()] = 0;
    return kvpo::tell(printer, code, std::span(request, request[2] + 3ul));
}

}  // namespace

long KVPrtObj::bidiGetFormNames(_CUSTOMNAME** names, unsigned short* count) {
    return readNames(*this, kvbidi::kFormNames, names, count);
}

long KVPrtObj::bidiGetOutputBinNicknames(_CUSTOMNAME** names, unsigned short* count) {
    return readNames(*this, kvbidi::kOutputBinNicknames, names, count);
}

long KVPrtObj::bidiSetFormName(unsigned short number, const CString& name) {
    return writeName(*this, kvbidi::kSetFormName, number, name);
}

long KVPrtObj::bidiSetOutputBinNickname(unsigned short number, const CString& name) {
    return writeName(*this, kvbidi::kSetOutputBinNickname, number, name);
}
