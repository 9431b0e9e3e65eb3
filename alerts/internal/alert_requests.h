// The requests of the alert families and the status records of the input and
// output status replies.
#pragma once

#include <cstdint>

#include "kvprtobj/bidicodes.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/ask.h"

namespace kvpo {


// Sends the family's request: one data byte 0x00 for input status, output
// status and supplies status, none for the others.
inline Asked askFamily(KVPrtObj& printer, unsigned short requestCode) {
    unsigned char zero = 0x00;
    bool dataByte = requestCode == kvbidi::kInputStatus || requestCode == kvbidi::kOutputStatus ||
                    requestCode == kvbidi::kSuppliesStatus;
    return ask(printer, requestCode, std::span(&zero, dataByte ? 1 : 0));
}

// One record of an input or output status reply.
struct StatusRecord {
    uint8_t id = 0;         // input source or output bin
    uint8_t presence = 0;
    uint8_t status = 0;

    unsigned state() const { return status & 0x07; }
    bool flag() const { return (status & 0x08) != 0; }
    bool present() const { return presence != 0; }
};

// Visits the records of a status reply (a count byte, then three bytes per
// record) in order, up to the first that does not lie wholly within it.
template <typename Visit>
void forEachStatusRecord(ReplyReader reply, Visit&& visit) {
    unsigned n = reply.u8();
    for (unsigned k = 0; k < n && reply.has(3); ++k) {
        StatusRecord r;
        r.id = reply.u8();
        r.presence = reply.u8();
        r.status = reply.u8();
        visit(r);
    }
}

}  // namespace kvpo
