// The rules every request of a printer object follows, in one place: the
// object's own transport (prtobj/transport.cpp) and a batch's requests
// (prtobj/batch.cpp) both decide through them.
//
//   admit        refused at once (-11) while the bidi-active flag is clear, unless forced
//   retries      how many more times a failed attempt is sent (a negative count is 0)
//   netType      the network type to send with: the object's, or 0 once it is no longer valid
//   capacities   the first reply buffer (the caller's size, or kDefaultReplySize);
//                on "too small" (-18) doubled, at most kMaxReplySize
//   finishReply  a reply that is empty or claims more than its buffer is bad (-2);
//                otherwise its first byte is dropped
//   alertFits    alert data longer than kAlertBufferSize is not handed over
//
// The bidi-active flag then moves with the result through KVPrtObj::moveBidiFlag.
#pragma once

#include "kvprtobj/prtobj.h"

namespace kvpo {

struct TransportRules {
    // `bidiActive` as the object's (virtual) isBidiActive tells it.
    static long admit(int bidiActive, int bForce) { return bidiActive || bForce ? BCE_OK : BCE_E_NOT_ACTIVE; }
    static int retries(int retryCount) { return retryCount > 0 ? retryCount : 0; }
    // Checks the object's network type, and sets it to 0 when no longer valid.
    static unsigned int netType(const KVPrtObj& printer);

    static unsigned long firstCapacity(unsigned long asked) {
        return asked ? asked : KVPrtObj::kDefaultReplySize;
    }
    // Whether `rc` asks for the buffer of `capacity` to grow. Within one
    // attempt, the first "too small" always grows (a buffer above the largest
    // is cut to it); later ones while the buffer is below the largest.
    static bool grows(long rc, unsigned long capacity, bool grownThisAttempt);
    // The buffer after `capacity`: doubled, at most kMaxReplySize. With the
    // length the reply `needs` (when the engine reports it), the first such
    // step that holds it.
    static unsigned long nextCapacity(unsigned long capacity, unsigned long needs = 0);

    // The last step of a request with a reply: `*length` bytes of `reply`, in
    // a buffer of `capacity`, as the engine reported them for result `rc`.
    // Returns BCE_E_BAD_REPLY for an empty reply or one longer than its buffer;
    // on success drops the reply's first byte, which is not part of the data.
    static long finishReply(long rc, void* reply, unsigned long* length, unsigned long capacity);

    // Whether an alert read of result `rc` hands over its `length` bytes.
    static bool alertFits(long rc, unsigned long length) {
        return rc == BCE_OK && length <= KVPrtObj::kAlertBufferSize;
    }
};

}  // namespace kvpo
