// SNMP data between net-snmp and plain values (mib.h): received variable
// bindings into VarBinds, a VarBind into a SET binding, and v1/v2c datagrams
// into net-snmp PDUs and back without a session (the trap listener, the fuzz
// harness and the tests' stand-in agents use those).
//
// Nothing received is trusted: OIDs longer than MibView::kMaxOidLength or
// with sub-identifiers beyond 32 bits are refused, octet strings are cut at
// kMaxValueBytes, Counter64 is cut to 2^63-1, and a type this client does not
// know becomes Null (kept, so that a walk still sees its OID).
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mib.h"

namespace kvnet::snmp {

// Longest octet string kept. Printer and host objects are DisplayStrings of
// at most 255 octets; the rest of a longer value is dropped.
constexpr size_t kMaxValueBytes = 4096;
// Largest datagram parsed: the most a UDP/IPv4 datagram carries.
constexpr size_t kMaxDatagram = 65507;

struct PduFree {
    void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
using PduPtr = std::unique_ptr<netsnmp_pdu, PduFree>;

// One received binding; nullopt when its OID is empty, too long or not 32-bit.
std::optional<VarBind> toVarBind(const netsnmp_variable_list& variable);
// Every binding of `pdu` that toVarBind accepts, in order.
std::vector<VarBind> bindingsOf(const netsnmp_pdu& pdu);

// `id` in net-snmp's sub-identifiers.
std::vector<oid> toNetsnmp(const Oid& id);
// `id` from net-snmp's sub-identifiers; empty when too long or not 32-bit.
Oid fromNetsnmp(const oid* ids, size_t count);

// Appends `id` = `value` to a SET request. False (nothing added) for the
// exception types, an Integer outside 32 bits, an unsigned type outside its
// range, an IpAddress not of 4 bytes or an OID the agent could not take.
bool addBinding(netsnmp_pdu* pdu, const Oid& id, const Value& value);
// Appends `id` with a NULL value, as GET and GETNEXT requests carry.
bool addNullBinding(netsnmp_pdu* pdu, const Oid& id);

// A community-based (v1 or v2c) SNMP message: its PDU with version and
// community set; null for anything else (v3, broken BER, a length beyond
// the datagram). Bytes after the message are ignored, as net-snmp does.
PduPtr parseDatagram(const uint8_t* data, size_t length);
// `pdu` (v1 or v2c, with its community) as a datagram; empty when net-snmp
// cannot encode it.
std::string buildDatagram(netsnmp_pdu* pdu);

}  // namespace kvnet::snmp
