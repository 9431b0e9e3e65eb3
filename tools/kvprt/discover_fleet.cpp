// discover --write-fleet: the printers found, merged into a kvprtd fleet file.
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "discover.h"
#include "file_write.h"
#include "fleet.h"
#include "session.h"

namespace kvprt {
namespace {

constexpr const char kNetScheme[] = "net://";
constexpr size_t kMaxNameLength = 64;

// The host of a net:// URI; empty for another URI.
std::string netHost(const std::string& uri) {
    if (!uri.starts_with(kNetScheme)) return {};
    const size_t begin = sizeof kNetScheme - 1;
    return uri.substr(begin, uri.find('?', begin) - begin);
}

// A name for the fleet from a printer's sysName (letters, digits, '.', '_',
// '-'), else from its address; "-2", "-3" ... when taken.
std::string freshName(const Found& p, std::set<std::string>* taken) {
    std::string base;
    for (char c : p.name.substr(0, kMaxNameLength - 4))
        base += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ? c : '-';
    if (base.find_first_not_of('-') == std::string::npos) {
        base = "printer-" + p.addresses[0];
        std::replace(base.begin(), base.end(), '.', '-');
    }
    std::string name = base;
    for (unsigned n = 2; taken->contains(name); ++n) name = base + "-" + std::to_string(n);
    taken->insert(name);
    return name;
}

// A serial number the fleet file can hold (as kvfleet reads it).
bool fitsFleet(const std::string& serial) {
    return serial.size() <= kMaxNameLength &&
           std::none_of(serial.begin(), serial.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

}  // namespace

void writeFleet(const std::string& path, const std::vector<Found>& found, const SweepOptions& options) {
    kvprtd::Fleet fleet;
    std::string error;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        auto existing = kvprtd::readFleet(path, &error);
        if (!existing) throw Failure("discover", 0, "cannot take over the fleet file " + error);
        fleet = std::move(*existing);
    }
    std::set<std::string> names;
    for (const kvprtd::PrinterConfig& p : fleet.printers) names.insert(p.name);

    std::string query;
    if (options.snmpPort != SweepOptions{}.snmpPort) query += "&snmp-port=" + std::to_string(options.snmpPort);
    if (!options.auth.empty()) query += "&auth=" + options.auth;
    if (!query.empty()) query[0] = '?';

    for (const Found& p : found) {
        const bool keepSerial = !p.serial.empty() && fitsFleet(p.serial);
        auto listed = std::find_if(fleet.printers.begin(), fleet.printers.end(), [&](const kvprtd::PrinterConfig& c) {
            return keepSerial && c.serial == p.serial;
        });
        if (listed == fleet.printers.end())
            listed = std::find_if(fleet.printers.begin(), fleet.printers.end(), [&](const kvprtd::PrinterConfig& c) {
                return std::find(p.addresses.begin(), p.addresses.end(), netHost(c.uri)) != p.addresses.end();
            });
        if (listed != fleet.printers.end()) {
            // Listed already: its entry stays, but for a new address of the same serial number.
            const std::string host = netHost(listed->uri);
            if (!host.empty() && std::find(p.addresses.begin(), p.addresses.end(), host) == p.addresses.end())
                listed->uri.replace(sizeof kNetScheme - 1, host.size(), p.addresses[0]);
            if (listed->serial.empty() && keepSerial) listed->serial = p.serial;
            continue;
        }
        fleet.printers.push_back({freshName(p, &names), kNetScheme + p.addresses[0] + query, {}, {},
                                  keepSerial ? p.serial : std::string()});
    }
    const std::string text = kvprtd::fleetText(fleet);
    // What kvprtd would refuse is not written.
    if (!kvprtd::parseFleet(text, path, &error)) throw Failure("discover", 0, "the fleet file would be refused: " + error);
    if (!replaceFile(path, text, &error)) throw Failure("discover", 0, "cannot write " + error);
}

}  // namespace kvprt
