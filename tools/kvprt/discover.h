// kvprt discover: the printers of a network, found by an SNMP sweep of
// address ranges and by DNS-SD, merged into one list, shown, and written as
// a kvprtd fleet file on request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvprt {

// What one address answered. Texts are the printer's, bounded in length and
// in UTF-8, not yet escaped for a terminal.
struct Answer {
    std::string address;   // IPv4, dotted
    std::string name, model, serial;
    std::string how;       // "snmp" or "dns-sd"
};

struct SweepOptions {
    unsigned jobs = 32;        // agents asked at once
    unsigned timeoutS = 1;     // for each agent, retries included
    uint16_t snmpPort = 161;
    std::string community;     // empty: public, or the credentials entry's
    std::string auth;          // the credentials file's entry (net:// auth=)
};

// A printer as discover shows it: the answers of one serial number (or of
// one address, without one) merged.
struct Found {
    std::vector<std::string> addresses;   // in numeric order
    std::string name, model, serial;
    std::vector<std::string> how;         // "snmp", "dns-sd"
};

// The most addresses one sweep asks: a /16.
constexpr size_t kMaxSweepAddresses = 65536;
// The IPv4 addresses of CIDR ranges ("10.1.2.0/24", or one address), without
// the network and broadcast addresses of ranges of 4 addresses or more.
// False with a message for a malformed range or more than kMaxSweepAddresses.
bool expandRanges(const std::vector<std::string>& ranges, std::vector<std::string>* addresses, std::string* error);

// The agents among `addresses` that answered sysDescr, sysName,
// hrDeviceDescr or prtGeneralSerialNumber. Throws Failure when the sweep
// cannot be made (no SNMP client in this build, unusable credentials).
std::vector<Answer> sweepSnmp(const std::vector<std::string>& addresses, const SweepOptions& options);

// The printers that announce _ipp._tcp, _ipps._tcp or _pdl-datastream._tcp
// over DNS-SD (IPv4), through avahi-browse within `timeoutS` seconds. When
// Avahi cannot be asked, a note on standard error and none.
std::vector<Answer> browseDnsSd(unsigned timeoutS);

// Writes `found` into the kvprtd fleet file at `path` (replaced whole, under
// a temporary name): printers it lists already (by serial number, else by
// the host of a net:// URI) keep their entries, the others are added with
// net://ADDRESS URIs carrying --snmp-port and --auth. Throws Failure.
void writeFleet(const std::string& path, const std::vector<Found>& found, const SweepOptions& options);

// A printer text made fit to show: at most kMaxTextBytes, trailing NULs
// dropped, read as ISO 8859-1 unless it is UTF-8.
constexpr size_t kMaxTextBytes = 256;
std::string printerText(const std::string& bytes);

}  // namespace kvprt
