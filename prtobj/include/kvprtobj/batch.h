// KVPrtObjBatch: operations of one printer object with their requests in
// flight together, so that a poll of ten queries costs about one round trip
// instead of ten, and one thread can keep the polls of many printers going.
//
//   KVPrtObjBatch batch(*printer);
//   PRINTERSTATUS status{};
//   KVPrtObj::PAGECOUNTDATA counts{};
//   size_t s = batch.add([&](KVPrtObj& p) { return p.bidiQueryDeviceStatus(&status); });
//   size_t c = batch.add([&](KVPrtObj& p) { return p.bidiGetPageCounts(&counts); });
//   batch.run();                             // or start(done), which returns at once
//   if (batch.result(s) == 0) ...            // what bidiQueryDeviceStatus returned
//
// How: every operation of KVPrtObj sends its requests through bidiQuery and
// reads alerts through bidiQueryAlert. The batch runs each operation on a copy
// of the printer object whose bidiQuery and bidiQueryAlert, at the first
// request the operation has no reply for yet, note the request and make the
// operation give up. All noted requests go out together through
// BceSendBidiAsync and BceQueryAlertsAsync; as each reply arrives the batch
// runs its operation again from the start, now answering its requests with the
// replies it holds, so the operation decodes them with the object's own
// decoders. An operation that sends several requests in turn (each depending
// on the last) takes one round trip per request. Any operation of KVPrtObj,
// and any code that only calls them, can be an operation; it should write
// only its outputs, since it may run more than once (the last run counts).
//
// The requests follow the object's own transport rules (one set of them, in
// prtobj/internal/transport_rules.h): the bidi-active flag refuses them (-11)
// unless forced, a failed request is tried the retry count more times, a reply
// longer than the operation's buffer is asked for again with a larger one, and
// channel-down results clear the flag. One difference, in growth: the buffer
// sizes are the object's (doubled from the first, at most kMaxReplySize), but
// where the engine reports the length a reply needs, the batch goes straight
// to the first of those sizes that holds it, one round trip instead of one per
// step (a 20000-byte reply: 2048 then 32768, where the object sends 2048,
// 4096, 8192, 16384 and 32768).
//
// Operations run one at a time, each on the object's state as
// the operations finished before it left it; when the batch is done that state
// (flag, capabilities, code level ...) is copied back into the printer object
// with its operator=. While a batch runs, its printer object must not be used
// otherwise. A host's own overrides of bidiQuery and bidiQueryAlert are not
// called: the batch goes to the engine directly.
//
// Threads: start() sends and returns. Replies are decoded, and `done` called,
// on the engine's I/O thread for tcp:// printers (operations must not make
// synchronous engine calls there: they fail with -3), or on the calling thread
// before start() returns for printers answering in the process. run() is
// start() and a wait, in which the waiting thread writes the requests of
// tcp:// printers together, reads their replies and decodes them itself
// (BceRunAsync); it must not be called from a completion.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "kvprtobj/bidicodes.h"
#include "kvprtobj/prtobj.h"

class KVPO_API KVPrtObjBatch {
public:
    using Operation = std::function<long(KVPrtObj&)>;

    // What a request answers while its reply is still on its way. An operation
    // gets it only in a run whose result the batch discards.
    static constexpr long kPending = KVPO_E_PENDING;

    explicit KVPrtObjBatch(KVPrtObj& printer);
    // Waits for a started batch to finish.
    ~KVPrtObjBatch();
    KVPrtObjBatch(const KVPrtObjBatch&) = delete;
    KVPrtObjBatch& operator=(const KVPrtObjBatch&) = delete;

    // Adds an operation before start(); returns its index for result().
    size_t add(Operation operation);
    size_t size() const;

    // Sends every operation's first request; `done` (may be empty) is called
    // once when every operation has its result. The batch may be destroyed
    // from within `done`. A finished batch may be started again: its
    // operations run afresh.
    void start(std::function<void()> done);
    // start() and wait until every operation has its result.
    void run();
    // The value the operation returned in its last run; kPending until then.
    long result(size_t index) const;

private:
    class Impl;   // shared with the engine's completions, which may outlive the batch
    std::shared_ptr<Impl> m;
};
