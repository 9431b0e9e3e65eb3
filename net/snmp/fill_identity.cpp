// Who the printer is: the engine's PRTINFO record, its name for network type
// 2 (IP) and its network address, from hrDeviceDescr, prtGeneralSerialNumber,
// sysName and the interface that carries the printer's address.
#include <arpa/inet.h>

#include <limits>

#include "fill_parts.h"
#include "text.h"

namespace kvnet::snmp::detail {
namespace {

constexpr uint32_t kIppPort = 631;

// The agent's only IPv4 address other than loopback and 0.0.0.0, or empty.
std::string onlyAddress(const Printer& p) {
    std::vector<std::string> found;
    for (const Oid& row : p.view.indexes(oid::column(oid::ipAddrEntry, oid::ipAdEntIfIndex))) {
        if (row.size() != 4 || row[0] == 127 || row[0] == 0 || row[0] > 255 || row[1] > 255 || row[2] > 255 ||
            row[3] > 255)
            continue;
        found.push_back(oidText(row));
    }
    return found.size() == 1 ? found.front() : std::string();
}

// The interface index that carries `address` (IP-MIB's old IPv4 table, then its new table).
std::optional<int64_t> interfaceOf(const Printer& p, const std::string& address) {
    unsigned char bytes[16];
    Oid index;
    if (::inet_pton(AF_INET, address.c_str(), bytes) == 1) {
        Oid v4{bytes[0], bytes[1], bytes[2], bytes[3]};
        if (auto i = p.view.number(oid::cell(oid::ipAddrEntry, oid::ipAdEntIfIndex, v4))) return i;
        index = Oid{oid::ipv4, 4} + v4;
    } else if (::inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
        index = Oid{oid::ipv6, 16};
        index.insert(index.end(), bytes, bytes + 16);
    } else {
        return std::nullopt;   // a host name
    }
    return p.view.number(oid::cell(oid::ipAddressEntry, oid::ipAddressIfIndex, index));
}

}  // namespace

void fillIdentity(Printer& p) {
    auto descr = p.bytes(oid::hrDeviceEntry, oid::hrDeviceDescr);
    auto name = p.view.bytes(oid::sysName);
    if (!descr && !name) return;   // the agent told nothing of who it is

    PRTINFO& info = p.profile.info;
    NETADDRESS_LEVEL2& net = p.profile.netAddress;
    std::string address = p.address.empty() ? onlyAddress(p) : p.address;
    std::string model = p.text(descr, 0, sizeof info.szModelName - 1);
    std::string host = p.text(name, 0, sizeof net.szHostName - 1);

    if (auto ifIndex = interfaceOf(p, address);
        ifIndex && *ifIndex > 0 && *ifIndex <= std::numeric_limits<uint32_t>::max()) {
        auto mac = p.view.bytes(oid::cell(oid::ifEntry, oid::ifPhysAddress, {static_cast<uint32_t>(*ifIndex)}));
        if (mac && mac->size() == 6) {
            std::copy(mac->begin(), mac->end(), info.abAdapterAddress);
            std::copy(mac->begin(), mac->end(), net.abHardware);
        }
    }
    if (!address.empty()) copyField(info.szPortName, sizeof info.szPortName, "IP_" + address);
    info.usFlags = PRTINFO_BIDI_CAPABLE;
    info.ulAttachment = BCE_NET_IP | PRTINFO_HAS_IP;
    info.usNetTypeCode = 2;
    info.usNetSubCode = 1;
    copyField(info.szModelName, sizeof info.szModelName, model);
    copyField(info.szSerialNumber, sizeof info.szSerialNumber,
              p.text(p.bytes(oid::prtGeneralEntry, oid::prtGeneralSerialNumber), 0, sizeof info.szSerialNumber - 1));

    // BceGetPrinterName fills buffers of 80 bytes.
    constexpr size_t kNameBytes = 79;
    std::string shown = host.empty() ? model : host;
    // It replaces the name the printer was given before any protocol answered.
    std::erase_if(p.profile.names, [](const kvsim::NameEntry& e) { return e.netType == BCE_NET_IP; });
    p.profile.names.push_back({BCE_NET_IP, shown.substr(0, kNameBytes), address.substr(0, kNameBytes)});

    net.ulNetType = BCE_NET_IP;
    if (net.ulPort == 0) net.ulPort = kIppPort;   // the port the printer was opened with, if it has one
    copyField(net.szHostName, sizeof net.szHostName, host);
    copyField(net.szAddress, sizeof net.szAddress, address);
}

}  // namespace kvnet::snmp::detail
