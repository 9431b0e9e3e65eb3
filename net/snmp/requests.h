// The client's requests as state machines over PDUs: each makes the next
// PDU to send and reads the reply to it, until it holds its result. They
// know nothing of sessions or sockets; the client (client.cpp) sends what
// they make, one PDU at a time.
//
//   GET   one PDU for every OID; a tooBig answer splits it in halves, a
//         noSuchName (v1) drops the OID it names and asks again. Missing
//         objects (noSuchObject, noSuchInstance, noSuchName) are left out.
//   walk  GETBULK from the last OID seen (GETNEXT on v1 and once the agent
//         refused GETBULK), max-repetitions halved after tooBig; it ends
//         at the end of the subtree, endOfMibView, noSuchName (v1), maxRows,
//         an OID that does not increase, or an answer with nothing usable.
//   SET   one binding; refused (-3) on an error status or when the answer
//         carries an exception value instead of the value.
#pragma once

#include <memory>
#include <string>

#include "client.h"
#include "convert.h"
#include "session.h"

namespace kvnet::snmp {

class Request {
public:
    virtual ~Request() = default;
    // The next PDU to send; null once the request is over (result() is final).
    virtual PduPtr next() = 0;
    virtual void onReply(const Reply& reply) = 0;
    Result takeResult() { return std::move(m_result); }

protected:
    void finish(long rc, std::string error = {});
    bool finished() const { return m_finished; }
    Result m_result;

private:
    bool m_finished = false;
};

std::unique_ptr<Request> makeGet(std::vector<Oid> oids);
// `bulkRefused` is the client's: set when the agent refuses GETBULK, so
// that its later walks use GETNEXT at once.
std::unique_ptr<Request> makeWalk(Oid root, WalkLimits limits, SnmpVersion version, bool* bulkRefused);
// `community`: the one to send the SET with; empty for the session's.
std::unique_ptr<Request> makeSet(Oid id, Value value, std::string community);

// An SNMP error-status by its RFC 3416 name ("noSuchName"), else "error-status N".
std::string errorStatusName(long status);
// A binding that is a value, not noSuchObject, noSuchInstance or endOfMibView.
bool isPresent(const Value& value);

}  // namespace kvnet::snmp
