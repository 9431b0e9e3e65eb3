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

// A list query whose reply begins with a one-byte count N: the request, the
// count and the array of N records (newRecords' rules, records of at least
// `smallest` bytes). `records` is null when there is nothing to decode: `rc`
// is then the transport's result (a failure, or success without a reply),
// kShortReply for a reply without its count, or BCE_E_NO_MEMORY.
template <typename T>
struct CountedList {
    long rc;
    Buffer reply;
    ReplyReader reader;   // at the first record
    unsigned n = 0;
    std::unique_ptr<T[]> records;
};

template <typename T, typename Count>
CountedList<T> askList(KVPrtObj& printer, unsigned short code, size_t smallest, T** array, Count* count) {
    auto [rc, reply] = ask(printer, code);
    CountedList<T> list{rc, std::move(reply), {}, 0, nullptr};
    if (!list.reply) return list;
    list.reader = list.reply.reader();
    list.n = list.reader.u8();
    if (!list.reader.ok()) {
        list.rc = kShortReply;
        return list;
    }
    list.records = newRecords(list.n, list.reader.remaining(), smallest, array, count);
    if (!list.records) list.rc = BCE_E_NO_MEMORY;
    return list;
}

// A whole list query of that form: null outputs give kNullArgument and
// nothing is sent; then `decode(reader, records, i, N)` decodes record i of the
// N in order and returns false when the reply ends inside it (kShortReply,
// outputs untouched). On success *count = N and *array the records.
template <typename T, typename Count, typename Decode>
long queryList(KVPrtObj& printer, unsigned short code, size_t smallest, T** array, Count* count, Decode&& decode) {
    if (array == nullptr || count == nullptr) return kNullArgument;
    CountedList<T> list = askList(printer, code, smallest, array, count);
    if (!list.records) return list.rc;
    for (unsigned i = 0; i < list.n; ++i)
        if (!decode(list.reader, list.records.get(), i, list.n)) return kShortReply;
    *count = static_cast<Count>(list.n);
    *array = list.records.release();
    return BCE_OK;
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
