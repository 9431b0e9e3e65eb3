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
