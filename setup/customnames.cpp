// Custom names of forms and output-bin nicknames: one read and one write,
// each with two request codes.
#include <cstring>
#include <new>
#include <utility>

#include "kvprtobj/bidicodes.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/reply.h"

namespace {


// The longest name whose length + 1 fits the request's length byte.
constexpr size_t kMaxNameLength = 254;

// Reply: one unused byte, the count N, then N entries of number, length L and
// L characters. Entries of length 0 or 1 give an empty name.
long readNames(KVPrtObj& printer, unsigned short code, _CUSTOMNAME** names, unsigned short* count) {
    if (names == nullptr || count == nullptr) return -18;
    kvpo::Buffer reply;
    long rc = printer.bidiQuery(code, nullptr, 0, &reply.data, &reply.length, 1, 0);
    if (rc != 0 || reply.data == nullptr) return rc;

    auto r = reply.reader();
    r.skip(1);
    const unsigned entries = r.u8();
    auto check = r;
    for (unsigned i = 0; i < entries; ++i) {
        check.skip(1);
        check.skip(check.u8());
    }
    if (!check.ok()) return -2;

    if (entries == 0) {
        *count = 0;
        return 0;
    }
    auto* array = new (std::nothrow) _CUSTOMNAME[entries];
    if (array == nullptr) return -18;
    for (unsigned i = 0; i < entries; ++i) {
        array[i].usNumber = r.u8();
        size_t length = r.u8();
        CString name = r.text(length);
        if (length > 1) array[i].strName = std::move(name);
    }
    *count = static_cast<unsigned short>(entries);
    *names = array;
    return 0;
}

// Request data: 1, the number's low byte, the name's length + 1, the name and a 0 byte.
long writeName(KVPrtObj& printer, unsigned short code, unsigned short number, const CString& name) {
    if (name.size() > kMaxNameLength) return -3;
    unsigned char request[3 + kMaxNameLength + 1];
    request[0] = 1;
    request[1] = static_cast<unsigned char>(number & 0xFF);
    request[2] = static_cast<unsigned char>(name.size() + 1);
    std::memcpy(request + 3, name.data(), name.size());
    request[3 + name.size()] = 0;
    return printer.bidiQuery(code, request, request[2] + 3ul, nullptr, nullptr, 0, 0);
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
