// A printer's state from what its SNMP agent answered: the Printer MIB (RFC
// 3805) and the Host Resources MIB (RFC 2790) read from a MibView into the
// simulator's terms (snapshot.h). docs/realprinters.md fixes the meaning of
// every field filled here; the alert mapping tables are alert_table.cpp.
//
// What a full refresh asks: walkRoots(), every subtree walked into one view
// (the system group, hrDevice and hrPrinter rows, hrStorage, hrMemorySize,
// the Printer MIB's general, localization, input, output, marker, supplies,
// media path, channel, interpreter, console and alert tables, and for the
// identity the IPv4 and IP address tables, ifPhysAddress and the firmware
// columns of ENTITY-MIB). Between refreshes a quiet poll (quietPoll) asks the
// change counters and the values that move without them in one GET, and
// staleRoots() names the subtrees to walk again when a counter moved.
//
// What fill() writes, and marks answered only when the agent told it:
//   0x01 device status     hrDeviceStatus, hrPrinterStatus, the offline bit
//   0x02, 0x03             input and output status (prtInputTable,
//                          prtOutputTable, alert rows on them); input bins
//                          are numbered the library's way: 1 manual feed,
//                          2 envelope feeder, 3 on the others in index order
//   0x06-0x0B alert runs   prtAlertTable rows and hrPrinterDetectedErrorState
//                          bits through alert_table.cpp; without an alert
//                          table, supplies low or empty from their levels
//   0x0C page counts       type 1 prtMarkerLifeCount, type 4 when counted in sheets
//   0x0D supplies status   one record per supply (index 1-255)
//   0x9A toner             format 1, one record per toner or ink supply
//   0x10, 0x12, 0x13       device, input and output characteristics
//   0x14 storage options   hrStorageTable's fixed disks and flash
//   0x20 interpreters      the library's fixed names (PCL, GL, PostScript, PPDS)
//   0x9B ports             prtChannelType of the channels that accept data
//   0x43 panel text        prtConsoleDisplayBufferText in code page 850
//   0x4E, 0x94             the panel lock 00 4D from prtConsoleDisable
//   identity               PRTINFO, the name of network type 2, the network
//                          address (no request code: see the profile's model)
// Device status byte 1 (the condition flags), page-count type 2 (the host
// count) and the configuration-change record for a moved
// prtGeneralConfigChanges (the fill keeps no history) are the printer's.
//
// Nothing is trusted: missing objects, wrong types (counters typed INTEGER),
// gaps in indexes, levels that are not measurements, counts beyond what a
// reply can carry (cut, with a note), texts in any character set (ISO 8859-1
// out, the panel code page 850).
#pragma once

#include <string>
#include <vector>

#include "mib.h"
#include "snapshot.h"

namespace kvnet::snmp {

// The subtrees a full refresh walks, in the order they are asked.
const std::vector<Oid>& walkRoots();

// The OIDs of a quiet poll, all in one GET: the change counters and the
// values that move without them (alert events, configuration changes,
// status, error state, life count, supply levels, input levels and output
// room, console lock and display). `view` is what the last full refresh saw
// (device index, rows); at most kMaxQuietPoll OIDs.
constexpr size_t kMaxQuietPoll = 96;
std::vector<Oid> quietPoll(const MibView& view);
// The roots of walkRoots() to walk again because the quiet poll's `answer`
// differs from `view` where it matters (a counter moved, a row appeared or
// went); empty when nothing did. The quiet poll's plain values are merged by
// the caller either way.
std::vector<Oid> staleRoots(const MibView& view, const std::vector<VarBind>& answer);

// Fills `snapshot` from `view`: marks answered every request code it filled.
// `address` is the printer's address as the client reached it (an IPv4 or
// IPv6 address text; a host name when nothing else is known): it names the
// port ("IP_<address>"), finds the interface whose hardware address PRTINFO
// carries, and is the address of the name and network address records.
// Empty: the agent's only IPv4 address other than loopback, if it has one.
void fill(const MibView& view, const std::string& address, Snapshot* snapshot);

}  // namespace kvnet::snmp
