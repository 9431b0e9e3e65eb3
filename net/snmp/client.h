// One printer's SNMP agent, asked through net-snmp's single-session API and
// driven by the backend's event loop (gateway.h): no thread of its own, no
// blocking call. The session's socket is watched by asio, net-snmp's timers
// by an asio timer. A session holds a gateway slot while open and is closed
// after it has been idle a short while, so that thousands of printers do not
// mean thousands of descriptors.
//
// Every callback runs on the loop's thread, called exactly once unless the
// client is closed (or destroyed) first. Calls belong on the loop too; one
// made from another thread is posted there. A client may be created and
// destroyed on any thread (it is deleted on the loop).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mib.h"
#include "options.h"

namespace kvnet::snmp {

// What an exchange ended with: rc 0 with the bindings, or
//   BCE_E_TIMEOUT        no answer within the time-out (retries included)
//   BCE_E_CHANNEL_DOWN   the request could not be sent (no route, refused by ICMP)
//   BCE_E_NO_RESOURCES   no descriptor, socket buffer or memory was left for
//                        the session's socket: the agent was not tried
//   BCE_E_BAD_REPLY      datagrams came back but none could be parsed (broken BER)
//   BCE_E_INVALID        the agent refused (an error status: notWritable,
//                        wrongValue, noAccess ...; an SNMPv3 report; a SET
//                        answered noSuchInstance; on SNMPv3, answers that
//                        are not accepted: wrong keys, user or level), or
//                        the SNMPv3 settings cannot be used; `error` says which
// A name that does not resolve is BCE_E_CHANNEL_DOWN. On failure `bindings`
// is empty.
struct Result {
    long rc = 0;
    std::vector<VarBind> bindings;
    std::string error;
};
using Callback = std::function<void(Result)>;

// Bounds of a walk: it stops at the end of the subtree, at maxRows bindings,
// or when the agent answers an OID that does not increase (kept: what came
// before it).
struct WalkLimits {
    size_t maxRows = 5000;
    unsigned maxRepetitions = 25;   // of each GETBULK; halved after tooBig
};

class Client {
public:
    // `options`: host, port, version, community, credentials, time-out.
    static std::shared_ptr<Client> create(const NetOptions& options);
    virtual ~Client() = default;

    // GET of `oids` in one PDU (v1: a missing object fails the PDU with
    // noSuchName; the client then asks again without it, so missing objects
    // are left out of the result on every version).
    virtual void get(std::vector<Oid> oids, Callback done) = 0;
    // Every binding under `root`: GETBULK on v2c and v3, GETNEXT on v1 (and
    // after an agent refuses GETBULK).
    virtual void walk(Oid root, WalkLimits limits, Callback done) = 0;
    // SET of one binding, with the write community (credentials) on v1/v2c.
    virtual void set(Oid oid, Value value, Callback done) = 0;
    // Ends every exchange without calling its callback and closes the session.
    virtual void close() = 0;
};

}  // namespace kvnet::snmp
