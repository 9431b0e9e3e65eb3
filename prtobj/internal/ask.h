// One request of an operation: `auto [rc, reply] = kvpo::ask(*this, code, request);`
// sends it through the object's virtual bidiQuery with the reply allocated,
// and hands back the result and the reply. The reply holds data only on
// success with a reply buffer, so `if (!reply) return rc;` ends an operation
// on a failure and on a success without data alike. Alert reads go through
// readAlert the same way.
#pragma once

#include <span>

#include "kvprtobj/bidicodes.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/reply.h"

namespace kvpo {

struct Asked {
    long rc;
    Buffer reply;
};

struct AskOptions {
    unsigned long firstSize = 0;   // the first reply-buffer size; 0 = the transport's default
    int bForce = 0;                // sent even while bidi is marked inactive
};

inline Asked ask(KVPrtObj& printer, unsigned short code, std::span<unsigned char> request = {},
                 AskOptions options = {}) {
    Asked asked{BCE_OK, Buffer(options.firstSize)};
    Buffer& reply = asked.reply;
    asked.rc = printer.bidiQuery(code, request.empty() ? nullptr : request.data(), request.size(), &reply.data,
                                 &reply.length, 1, options.bForce);
    if (asked.rc != BCE_OK) ::operator delete(reply.release());
    return asked;
}

// A command without a reply: sent through bidiQuery with no reply buffer; its result.
inline long tell(KVPrtObj& printer, unsigned short code, std::span<unsigned char> request = {}) {
    return printer.bidiQuery(code, request.empty() ? nullptr : request.data(), request.size(), nullptr, nullptr, 0,
                             0);
}

// A list query whose reply begins with a one-byte count N. Null outputs give
// kNullArgument and nothing is sent; a failure, or success without a reply,
// gives the transport's result; a reply without its count kShortReply. The
// array of N records (newRecords' rules, records of at least `smallest`
// bytes) is then filled by `decode(reader, records, i, N)` for each record i
// in order, which returns false when the reply ends inside it (kShortReply,
// outputs untouched). On success *count = N and *array the records.
template <typename T, typename Count, typename Decode>
long queryList(KVPrtObj& printer, unsigned short code, size_t smallest, T** array, Count* count, Decode&& decode) {
    if (array == nullptr || count == nullptr) return kNullArgument;
    auto [rc, reply] = ask(printer, code);
    if (!reply) return rc;
    ReplyReader r = reply.reader();
    const unsigned n = r.u8();
    if (!r.ok()) return kShortReply;
    std::unique_ptr<T[]> records = newRecords(n, r.remaining(), smallest, array, count);
    if (!records) return BCE_E_NO_MEMORY;
    for (unsigned i = 0; i < n; ++i)
        if (!decode(r, records.get(), i, n)) return kShortReply;
    *count = static_cast<Count>(n);
    *array = records.release();
    return BCE_OK;
}

// One variable read through the object's virtual bidiReadOMVar: the value
// holds bytes only on success with data, the two echoed id bytes and then
// the variable's value.
inline Asked readVariable(KVPrtObj& printer, kvbidi::VariableId id) {
    auto idBytes = kvbidi::idBytes(id);
    Asked asked{BCE_OK, Buffer()};
    asked.rc = printer.bidiReadOMVar(idBytes.data(), &asked.reply.data, &asked.reply.length);
    if (asked.rc != BCE_OK) ::operator delete(asked.reply.release());
    return asked;
}

// The same for a miscellaneous variable, through bidiReadMiscVar (`bForce`
// passed on): the value alone.
inline Asked readMiscVariable(KVPrtObj& printer, kvbidi::VariableId id, int bForce = 0) {
    auto idBytes = kvbidi::idBytes(id);
    Asked asked{BCE_OK, Buffer()};
    asked.rc = printer.bidiReadMiscVar(idBytes.data(), &asked.reply.data, &asked.reply.length, bForce);
    if (asked.rc != BCE_OK) ::operator delete(asked.reply.release());
    return asked;
}

// One alert read through the object's virtual bidiQueryAlert, with the flag
// every alert read passes. The data hold bytes only on success with data.
inline Asked readAlert(KVPrtObj& printer, unsigned short alertId, unsigned long family) {
    Asked asked{BCE_OK, Buffer()};
    Buffer& data = asked.reply;
    asked.rc = printer.bidiQueryAlert(alertId, family, &data.data, &data.length, kvbidi::kAlertReadFlag);
    if (asked.rc != BCE_OK) ::operator delete(data.release());
    return asked;
}

}  // namespace kvpo
