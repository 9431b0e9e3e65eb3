// Object-model variables: set, read, read several, and the miscellaneous read.
#include <algorithm>
#include <cstring>

#include "prtobj/internal/ask.h"

namespace {

constexpr unsigned long kMultiReadFirstBuffer = 4000;
constexpr size_t kMultiVarMinimum = 2 + 1;   // id and length
constexpr size_t kMaxMultiVars = 0xFFFF;     // the count's 16 bits

bool echoes(const kvpo::Buffer& reply, const unsigned char* id) {
    return reply.length >= 3 && reply.bytes()[1] == id[0] && reply.bytes()[2] == id[1];
}

// The reads of 0x4E and 0x56: the value from reply byte `skip` on, with a matching echo.
long readVariable(KVPrtObj& printer, unsigned short code, unsigned char* id, void** value, unsigned long* length,
                  int bForce, unsigned long skip) {
    *value = nullptr;
    auto [rc, reply] = kvpo::ask(printer, code, std::span(id, 2), {.bForce = bForce});
    *length = reply.length;
    if (!reply) return rc;
    if (!echoes(reply, id)) return kvpo::kNoEcho;
    *length -= skip;
    unsigned char* copy = kvPrtObjNew(*length);
    if (copy == nullptr) return BCE_E_NO_MEMORY;
    std::memcpy(copy, reply.bytes() + skip, *length);
    *value = copy;
    return BCE_OK;
}

}  // namespace

long KVPrtObj::bidiSetOMVar(unsigned char* id, void* value, unsigned long length) {
    kvpo::Buffer request;
    request.data = kvPrtObjNew(length + 2);
    if (request.data == nullptr) return BCE_E_NO_MEMORY;
    auto* bytes = static_cast<unsigned char*>(request.data);
    bytes[0] = id[0];
    bytes[1] = id[1];
    if (length) std::memcpy(bytes + 2, value, length);
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kSetOMVar, std::span(bytes, length + 2));
    return reply && !echoes(reply, id) ? kvpo::kNoEcho : rc;
}

long KVPrtObj::bidiReadOMVar(unsigned char* id, void** value, unsigned long* length) {
    return readVariable(*this, kvbidi::kReadOMVar, id, value, length, 0, 1);
}

long KVPrtObj::bidiReadMiscVar(unsigned char* id, void** value, unsigned long* length, int bForce) {
    return readVariable(*this, kvbidi::kReadMiscVar, id, value, length, bForce, 3);
}

// Records are copied in one walk over id (2), length (1) and value; a
// record whose value runs past the end of the reply ends the walk and is not
// returned, and a value longer than the 33 bytes of _MULTIOMVAR::value is cut
// to 33 bytes (its `length` says 33) while the walk still steps over all of it.
unsigned long KVPrtObj::bidiReadMultiOMVars(unsigned char* ids, unsigned short count, _MULTIOMVAR** vars,
                                            unsigned short* varCount) {
    *vars = nullptr;
    *varCount = 0;
    kvpo::Buffer request;
    request.data = kvPrtObjNew(1 + 2ul * count);
    if (request.data == nullptr) return static_cast<unsigned long>(BCE_E_NO_MEMORY);
    auto* bytes = static_cast<unsigned char*>(request.data);
    bytes[0] = static_cast<unsigned char>(count & 0xFF);
    if (count) std::memcpy(bytes + 1, ids, 2ul * count);

    auto [rc, reply] = kvpo::ask(*this, kvbidi::kReadMultiOMVars, std::span(bytes, 1 + 2ul * count),
                                 {.firstSize = kMultiReadFirstBuffer});
    if (!reply || reply.length == 0) return static_cast<unsigned long>(rc);

    auto r = reply.reader();
    r.skip(1);
    auto array = kvpo::newRecords<_MULTIOMVAR>(kMaxMultiVars, r.remaining(), kMultiVarMinimum);
    if (!array) return static_cast<unsigned long>(BCE_E_NO_MEMORY);
    size_t records = 0;
    while (records < kMaxMultiVars && r.has(kMultiVarMinimum)) {
        _MULTIOMVAR v{};
        r.raw(&v.id, 2);
        size_t len = r.u8();
        auto value = r.sub(len);
        if (!r.ok()) break;
        v.length = static_cast<uint8_t>(std::min(len, sizeof v.value));
        value.raw(v.value, v.length);
        array[records++] = v;
    }
    if (records == 0) return BCE_OK;
    *vars = array.release();
    *varCount = static_cast<unsigned short>(records);
    return BCE_OK;
}
