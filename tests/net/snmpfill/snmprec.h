// The project's .snmprec recordings (tests/net/recordings, served by snmpsim
// by community) read into a MibView, so that the fill is tested without a
// network: one "OID|TAG|VALUE" per line, TAG the BER type number (2 INTEGER,
// 4 OCTET STRING, 4x the same in hex, 5 NULL, 6 OBJECT IDENTIFIER,
// 64 IpAddress, 65 Counter32, 66 Gauge32, 67 TimeTicks, 70 Counter64).
#pragma once

#include <string>

#include "snmp/mib.h"

namespace snmpfilltest {

// Loads the recording at `path`. False with "line N: ..." for a line it
// cannot read, and for OIDs that are not in increasing order (snmpsim needs it).
bool loadSnmprec(const std::string& path, kvnet::snmp::MibView* view, std::string* error);

}  // namespace snmpfilltest
