// The profile as an snmpsim recording: each object written where the SNMP
// fill reads it (net/snmp/fill_*.cpp).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "differential.h"
#include "encoders.h"
#include "snmp/oids.h"
#include "text.h"

namespace difftest {
namespace {

using kvnet::snmp::Oid;
namespace oid = kvnet::snmp::oid;

constexpr uint32_t kDevice = 1;                 // hrDeviceIndex of the printer
constexpr uint32_t kInterface = 1;              // ifIndex of the printer's adapter
constexpr uint32_t kTexts = 1, kConsole = 2;    // prtLocalizationIndex of the texts and of the panel
const Oid kExampleEnterprise{1, 3, 6, 1, 4, 1, 32473};   // RFC 5612's example enterprise
// Values of the MIBs the fill has no name for.
constexpr int64_t kIfTypeEthernet = 6, kMediaPathSimplex = 5, kTrainingTrained = 4, kLocationUnknown = -2;
constexpr uint32_t kKilobyte = 1024;

template <size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// One object per OID, "TAG|VALUE" with the BER type number as TAG, written
// in OID order (snmpsim needs it).
struct Recording : std::map<Oid, std::string> {
    void integer(const Oid& o, int64_t v, const char* tag = "2") { (*this)[o] = tag + ("|" + std::to_string(v)); }
    void objectId(const Oid& o, const Oid& v) { (*this)[o] = "6|" + kvnet::snmp::oidText(v); }
    // In hex: snmpsim gives the bytes as they are, spaces and '|' included.
    void octets(const Oid& o, const std::string& bytes) {
        std::string& cell = (*this)[o] = "4x|";
        for (unsigned char c : bytes) cell += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    }
    // The INTEGER columns of one row of a table.
    void integers(const Oid& entry, const Oid& index, std::initializer_list<std::pair<uint32_t, int64_t>> cells) {
        for (auto [column, v] : cells) integer(oid::cell(entry, column, index), v);
    }
};

void writeIdentity(Recording& rec, const kvsim::Profile& p, const std::string& address) {
    const std::string model = p.deviceChars.text1.empty() ? field(p.info.szModelName) : p.deviceChars.text1;
    rec.octets(oid::sysDescr, model);
    rec.objectId(oid::sysObjectID, kExampleEnterprise);
    rec.integer(oid::sysUpTime, 0, "67");
    rec.octets(oid::sysName, field(p.netAddress.szHostName));
    rec.integers(oid::ifEntry, {kInterface}, {{1, kInterface}, {3, kIfTypeEthernet}});   // ifIndex, ifType
    rec.octets(oid::cell(oid::ifEntry, oid::ifPhysAddress, {kInterface}),
               std::string(std::begin(p.info.abAdapterAddress), std::end(p.info.abAdapterAddress)));
    if (Oid v4 = kvnet::snmp::parseOid(address); v4.size() == 4) {
        rec[oid::cell(oid::ipAddrEntry, 1, v4)] = "64|" + address;   // ipAdEntAddr
        rec.integer(oid::cell(oid::ipAddrEntry, oid::ipAdEntIfIndex, v4), kInterface);
    }
    // The printer's row of hrDeviceTable (index, type, description, id), and its firmware as the chassis's.
    rec.integer(oid::cell(oid::hrDeviceEntry, 1, {kDevice}), kDevice);
    rec.objectId(oid::cell(oid::hrDeviceEntry, oid::hrDeviceType, {kDevice}), oid::hrDevicePrinter);
    rec.octets(oid::cell(oid::hrDeviceEntry, oid::hrDeviceDescr, {kDevice}), model);
    rec.objectId(oid::cell(oid::hrDeviceEntry, 4, {kDevice}), {0, 0});
    rec.integer(oid::cell(oid::entPhysicalEntry, oid::entPhysicalClass, {1}), oid::physicalChassis);
    rec.octets(oid::cell(oid::entPhysicalEntry, oid::entPhysicalFirmwareRev, {1}), p.deviceChars.codeLevel);
}

// Device status: byte 0 ready and activity, byte 2 the state (0: not reported,
// which the Host Resources MIB cannot say; the state then follows "ready").
void writeDeviceStatus(Recording& rec, const kvsim::Profile& p) {
    const auto& status = p.deviceStatus;
    const bool ready = (status[0] & 0x01) != 0;
    // hrPrinterStatus by activity: idle, printing, warming up, other.
    const int64_t activities[] = {oid::hrPrinterIdle, oid::hrPrinterPrinting, oid::hrPrinterWarmup, oid::hrPrinterOther};
    const int64_t state = status[2] >= oid::hrUnknown && status[2] <= oid::hrDown ? int64_t{status[2]}
                          : ready                                                 ? int64_t{oid::hrRunning}
                                                                                  : int64_t{oid::hrDown};
    rec.integer(oid::cell(oid::hrDeviceEntry, oid::hrDeviceStatus, {kDevice}), state);
    rec.integer(oid::cell(oid::hrPrinterEntry, oid::hrPrinterStatus, {kDevice}), activities[status[0] >> 6]);
    std::string errors(2, '\0');   // bit 0 is the first octet's top bit
    if ((state == oid::hrRunning || state == oid::hrWarning) && !ready)
        errors[oid::offline / 8] = static_cast<char>(0x80u >> (oid::offline % 8));
    rec.octets(oid::cell(oid::hrPrinterEntry, oid::hrPrinterDetectedErrorState, {kDevice}), errors);
}

// RAM, then flash and disk as the storage options give them ("FLASH: 1;SIZE:
// 4096;FREE SPACE: 1024;"); a font cartridge has no table.
void writeStorage(Recording& rec, const kvsim::Profile& p) {
    const uint32_t memoryKb = p.deviceChars.memoryBytes / kKilobyte;
    if (memoryKb > 0) rec.integer(oid::hrMemorySize, memoryKb);
    uint32_t index = 0;
    auto row = [&](const Oid& type, const std::string& descr, int64_t sizeKb, int64_t freeKb) {
        const Oid at{++index};
        rec.integers(oid::hrStorageEntry, at, {{1, index}, {oid::hrStorageAllocationUnits, kKilobyte},
                                               {oid::hrStorageSize, sizeKb}});
        if (freeKb >= 0) rec.integer(oid::cell(oid::hrStorageEntry, oid::hrStorageUsed, at), sizeKb - freeKb);
        rec.objectId(oid::cell(oid::hrStorageEntry, oid::hrStorageType, at), type);
        rec.octets(oid::cell(oid::hrStorageEntry, oid::hrStorageDescr, at), descr);
    };
    row(oid::hrStorageRam, "RAM", memoryKb, memoryKb);
    for (const std::string& entry : p.storage) {
        auto items = itemsOf(entry, ':');
        std::map<std::string, std::string> fields(items.begin(), items.end());
        const bool flash = fields.count("FLASH") != 0;
        if (flash || fields.count("DISK") != 0)
            row(flash ? oid::hrStorageFlashMemory : oid::hrStorageFixedDisk, flash ? "Flash" : "Disk",
                std::strtoll(fields["SIZE"].c_str(), nullptr, 10), std::strtoll(fields["FREE SPACE"].c_str(), nullptr, 10));
    }
}

// The Printer MIB: its general row, media path, channels, interpreters,
// panel, trays, supplies (rows.cpp), life count and alerts.
void writePrinter(Recording& rec, const kvsim::Profile& p) {
    const kvsim::Bytes* lock = kvsim::findVariable(p, kvsim::kVarPanelLock);
    const int64_t alertRows = static_cast<int64_t>(kAlertCarriers.size());
    rec.integers(oid::prtGeneralEntry, {kDevice},
                 {{oid::prtGeneralCurrentLocalization, kTexts}, {oid::prtMarkerDefaultIndex, 1},
                  {oid::prtConsoleLocalization, kConsole}, {oid::prtConsoleNumberOfDisplayLines, p.panel.height},
                  {oid::prtConsoleNumberOfDisplayChars, p.panel.width},
                  {oid::prtConsoleDisable, lock && !lock->empty() && lock->front() != 0 ? oid::consoleDisabled
                                                                                         : oid::consoleEnabled}});
    for (auto [column, count] : {std::pair{oid::prtGeneralConfigChanges, int64_t{0}},
                                 {oid::prtAlertCriticalEvents, alertRows}, {oid::prtAlertAllEvents, alertRows}})
        rec.integer(oid::cell(oid::prtGeneralEntry, column, {kDevice}), count, "65");   // Counter32
    rec.octets(oid::cell(oid::prtGeneralEntry, oid::prtGeneralSerialNumber, {kDevice}), field(p.info.szSerialNumber));
    // Texts in ISO 8859-1 and the panel in code page 850, as the profile holds them.
    rec.integer(oid::cell(oid::prtLocalizationEntry, oid::prtLocalizationCharacterSet, {kDevice, kTexts}),
                kvnet::kCharsetLatin1);
    rec.integer(oid::cell(oid::prtLocalizationEntry, oid::prtLocalizationCharacterSet, {kDevice, kConsole}),
                kvnet::kCharsetCp850);
    uint32_t index = 0;
    for (const std::string& text : p.panel.text)
        rec.octets(oid::cell(oid::prtConsoleDisplayBufferEntry, oid::prtConsoleDisplayBufferText, {kDevice, ++index}), text);
    rec.integer(oid::cell(oid::prtMediaPathEntry, oid::prtMediaPathType, {kDevice, 1}),
                p.deviceChars.byte7 != 0 ? oid::longEdgeBindingDuplex : kMediaPathSimplex);
    index = 0;
    for (uint8_t port : p.ports)   // port numbers are channel types; 0 and 2 name none
        if (port != 0 && port != 2)
            rec.integers(oid::prtChannelEntry, {kDevice, ++index},
                         {{oid::prtChannelType, port}, {oid::prtChannelState, oid::printDataAccepted}});
    const std::map<std::string, int64_t> kFamilies = {{"PCL 5 Emulation", oid::langPCL}, {"GL 1 Emulation", oid::langHPGL},
                                                      {"PostScript Emulation", oid::langPS}, {"PPDS", oid::langPPDS}};
    for (const kvsim::Interpreter& i : p.interpreters)
        if (auto family = kFamilies.find(i.name); i.lu != 0 && family != kFamilies.end())
            rec.integer(oid::cell(oid::prtInterpreterEntry, oid::prtInterpreterLangFamily, {kDevice, i.lu}), family->second);

    index = 0;
    for (const InputRow& r : inputRows(p)) {
        const Oid at{kDevice, ++index};
        rec.integers(oid::prtInputEntry, at, {{oid::prtInputMaxCapacity, r.bin.capacity},
                                              {oid::prtInputCurrentLevel, r.level}, {oid::prtInputStatus, r.status}});
        if (r.bin.byte8 != 0) rec.integer(oid::cell(oid::prtInputEntry, oid::prtInputType, at), r.bin.byte8);
        if (const PaperSize* size = paperSize(r.bin.sizeCode))
            rec.integers(oid::prtInputEntry, at, {{oid::prtInputDimUnit, oid::micrometers},
                                                  {oid::prtInputMediaDimFeedDirDeclared, size->longEdge},
                                                  {oid::prtInputMediaDimXFeedDirDeclared, size->shortEdge}});
        rec.octets(oid::cell(oid::prtInputEntry, oid::prtInputMediaName, at), r.bin.text2);
        rec.octets(oid::cell(oid::prtInputEntry, oid::prtInputName, at), r.bin.name);
    }
    index = 0;
    // Byte 7's finishing bits (stapling, punching, folding): one finisher
    // row per process, with the bins it serves as a bit map.
    const std::pair<int64_t, uint8_t> kFinishing[] = {{oid::stitcher, 0x01}, {oid::puncher, 0x02}, {oid::folder, 0x04}};
    std::map<int64_t, std::string> served;
    for (const OutputRow& r : outputRows(p)) {
        const Oid at{kDevice, ++index};
        rec.integers(oid::prtOutputEntry, at, {{oid::prtOutputType, r.type}, {oid::prtOutputMaxCapacity, r.bin.capacity},
                                               {oid::prtOutputRemainingCapacity, r.remaining}, {oid::prtOutputStatus, r.status},
                                               {oid::prtOutputPageDeliveryOrientation, r.faceUp ? oid::faceUp : oid::faceDown},
                                               {oid::prtOutputOffsetStacking, (r.bin.byte7 & 0x80) ? oid::presentOn : oid::notPresent}});
        rec.octets(oid::cell(oid::prtOutputEntry, oid::prtOutputName, at), r.bin.name);
        for (const auto& [type, bit] : kFinishing)
            if (r.bin.byte7 & bit) {
                std::string& bins = served[type];
                bins.resize(std::max<size_t>(bins.size(), (index - 1) / 8 + 1));
                bins[(index - 1) / 8] = static_cast<char>(bins[(index - 1) / 8] | (0x80 >> (index - 1) % 8));
            }
    }
    index = 0;
    for (const auto& [type, bins] : served) {
        rec.integers(oid::finDeviceEntry, {kDevice, ++index}, {{oid::finDeviceType, type}, {oid::finDevicePresentOnOff, oid::presentOn}});
        rec.octets(oid::cell(oid::finDeviceEntry, oid::finDeviceAssociatedOutputs, {kDevice, index}), bins);
    }
    for (const SupplyRow& r : supplyRows(p))
        rec.integers(oid::prtMarkerSuppliesEntry, {kDevice, r.index},
                     {{oid::prtMarkerSuppliesMarkerIndex, 1}, {oid::prtMarkerSuppliesClass, r.supplyClass},
                      {oid::prtMarkerSuppliesType, r.type}, {oid::prtMarkerSuppliesSupplyUnit, r.unit},
                      {oid::prtMarkerSuppliesMaxCapacity, r.max}, {oid::prtMarkerSuppliesLevel, r.level}});
    // The life count (page count type 1), in sheets when type 4 says the same.
    if (const auto life = pageCount(p, 1)) {
        rec.integer(oid::cell(oid::prtMarkerEntry, oid::prtMarkerCounterUnit, {kDevice, 1}),
                    pageCount(p, 4) == life ? oid::counterSheets : oid::counterImpressions);
        rec.integer(oid::cell(oid::prtMarkerEntry, oid::prtMarkerLifeCount, {kDevice, 1}), *life, "65");
    }
    index = 0;
    for (const AlertCarrier& a : kAlertCarriers) {
        const Oid at{kDevice, ++index};
        rec.integers(oid::prtAlertEntry, at, {{oid::prtAlertSeverityLevel, a.severity},
                                              {oid::prtAlertTrainingLevel, kTrainingTrained}, {oid::prtAlertGroup, a.group},
                                              {oid::prtAlertGroupIndex, a.groupIndex},
                                              {oid::prtAlertLocation, kLocationUnknown}, {oid::prtAlertCode, a.code}});
        rec.octets(oid::cell(oid::prtAlertEntry, oid::prtAlertDescription, at), a.description);
    }
}

}  // namespace

std::string snmprecOf(const kvsim::Profile& p, const std::string& address) {
    Recording rec;
    writeIdentity(rec, p, address);
    writeDeviceStatus(rec, p);
    writeStorage(rec, p);
    writePrinter(rec, p);
    std::string text;
    for (const auto& [o, cell] : rec) text += kvnet::snmp::oidText(o) + "|" + cell + "\n";
    return text;
}

std::string addressOf(const kvsim::Profile& p) { return field(p.netAddress.szAddress); }

}  // namespace difftest
