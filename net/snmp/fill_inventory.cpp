// What the printer is made of: device characteristics (0x10), input and
// output bins (0x12, 0x13), storage options (0x14), interpreters (0x20) and
// ports (0x9B).
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "fill_parts.h"

namespace kvnet::snmp::detail {
namespace {

constexpr uint32_t kMax32 = std::numeric_limits<uint32_t>::max();

uint32_t clamp32(std::optional<int64_t> v) {
    return static_cast<uint32_t>(std::clamp<int64_t>(v.value_or(0), 0, kMax32));
}

// PCL page-size codes of the media the library knows by size (short and long
// edge in micrometres); 80 and above are envelopes.
struct PaperSize {
    uint8_t code;
    int64_t shortEdge, longEdge;
};
constexpr PaperSize kPaperSizes[] = {
    {1, 184150, 266700},    // Executive
    {2, 215900, 279400},    // Letter
    {3, 215900, 355600},    // Legal
    {6, 279400, 431800},    // Ledger
    {25, 148000, 210000},   // A5
    {26, 210000, 297000},   // A4
    {27, 297000, 420000},   // A3
    {45, 182000, 257000},   // JIS B5
    {46, 257000, 364000},   // JIS B4
    {71, 100000, 148000},   // Hagaki
    {72, 148000, 200000},   // Oufuku-Hagaki
    {80, 98425, 190500},    // Monarch
    {81, 104775, 241300},   // Commercial 10
    {90, 110000, 220000},   // DL
    {91, 162000, 229000},   // C5
    {100, 176000, 250000},  // B5 envelope
};
constexpr int64_t kSizeTolerance = 2000;   // 2 mm

// The size code of an input's medium from its dimensions (chosen, else declared).
uint8_t sizeCode(const Printer& p, uint32_t index) {
    auto number = [&](uint32_t column) { return p.number(oid::prtInputEntry, column, {index}); };
    auto unit = number(oid::prtInputDimUnit);
    auto feed = number(oid::prtInputMediaDimFeedDirChosen), cross = number(oid::prtInputMediaDimXFeedDirChosen);
    if (!feed || !cross || *feed <= 0 || *cross <= 0) {
        feed = number(oid::prtInputMediaDimFeedDirDeclared);
        cross = number(oid::prtInputMediaDimXFeedDirDeclared);
    }
    if (!feed || !cross || *feed <= 0 || *cross <= 0 || *feed > kMax32 || *cross > kMax32) return 0;
    int64_t a, b;
    if (unit == oid::tenThousandthsOfInches) a = *feed * 254 / 100, b = *cross * 254 / 100;
    else if (unit == oid::micrometers) a = *feed, b = *cross;
    else return 0;
    int64_t shortEdge = std::min(a, b), longEdge = std::max(a, b);
    for (const PaperSize& s : kPaperSizes)
        if (std::llabs(shortEdge - s.shortEdge) <= kSizeTolerance &&
            std::llabs(longEdge - s.longEdge) <= kSizeTolerance)
            return s.code;
    return 0;
}

// The firmware version ENTITY-MIB tells: of the chassis first, else of any entity.
std::string firmware(const Printer& p) {
    std::string any;
    for (const Oid& row : p.view.indexes(oid::column(oid::entPhysicalEntry, oid::entPhysicalFirmwareRev))) {
        std::string text = p.text(p.view.bytes(oid::cell(oid::entPhysicalEntry, oid::entPhysicalFirmwareRev, row)), 0);
        if (text.empty()) continue;
        if (p.view.number(oid::cell(oid::entPhysicalEntry, oid::entPhysicalClass, row)) == oid::physicalChassis)
            return text;
        if (any.empty()) any = text;
    }
    return any;
}

struct StorageRow {
    bool flash;
    int64_t sizeKb, freeKb;
};

std::vector<StorageRow> storageRows(const Printer& p, bool* anyRow) {
    std::vector<StorageRow> out;
    std::vector<Oid> rows = p.view.indexes(oid::column(oid::hrStorageEntry, oid::hrStorageType));
    *anyRow = !rows.empty();
    for (const Oid& row : rows) {
        const Value* type = p.view.get(oid::cell(oid::hrStorageEntry, oid::hrStorageType, row));
        if (!type || type->type != Value::Type::ObjectId) continue;
        bool flash = type->oid == oid::hrStorageFlashMemory;
        if (!flash && type->oid != oid::hrStorageFixedDisk) continue;
        auto number = [&](uint32_t column) { return p.view.number(oid::cell(oid::hrStorageEntry, column, row)); };
        auto units = number(oid::hrStorageAllocationUnits), size = number(oid::hrStorageSize),
             used = number(oid::hrStorageUsed);
        // hrStorage values are Integer32; within 32 bits the products fit in 64.
        auto fits = [](std::optional<int64_t> v) { return v && *v >= 0 && *v <= kMax32; };
        if (!fits(used)) used.reset();
        bool known = fits(units) && *units > 0 && fits(size);
        int64_t sizeKb = known ? *size * *units / 1024 : -1;
        int64_t freeKb = known && used && *used >= 0 && *used <= *size ? (*size - *used) * *units / 1024 : -1;
        out.push_back({flash, sizeKb, freeKb});
    }
    return out;
}

void fillDeviceChars(Printer& p, size_t storageDevices) {
    kvsim::DeviceChars& d = p.profile.deviceChars;
    auto model = p.bytes(oid::hrDeviceEntry, oid::hrDeviceDescr);
    d.byte2 = static_cast<uint8_t>(p.inputs.size());
    for (uint32_t path : p.rows(oid::prtMediaPathEntry)) {
        auto type = p.number(oid::prtMediaPathEntry, oid::prtMediaPathType, {path});
        if (type == oid::longEdgeBindingDuplex || type == oid::shortEdgeBindingDuplex) d.byte7 = 1;
    }
    d.byte11 = static_cast<uint8_t>(std::min(storageDevices, kMaxRecords));
    if (auto kb = p.view.number(oid::hrMemorySize); kb && *kb > 0) {
        if (*kb > kMax32 / 1024) p.note("hrMemorySize " + std::to_string(*kb) + " KB cut to 4 GiB - 1");
        d.memoryBytes = *kb > kMax32 / 1024 ? kMax32 : static_cast<uint32_t>(*kb * 1024);
    }
    d.text1 = p.text(model, 0);
    d.codeLevel = firmware(p);
    d.text3.clear();   // the default resolution: no standard object tells it
    if (model || !p.inputs.empty() || p.view.number(oid::hrMemorySize)) p.snapshot.answer(kvbidi::kDeviceChars);
}

void fillInputChars(Printer& p) {
    for (const Input& in : p.inputs) {
        auto number = [&](uint32_t column) { return p.number(oid::prtInputEntry, column, {in.index}); };
        kvsim::InputBin b;
        b.number = in.number;
        b.capacity = clamp32(number(oid::prtInputMaxCapacity));
        auto type = number(oid::prtInputType);
        b.byte8 = type && *type > 0 && *type <= 255 ? static_cast<uint8_t>(*type) : 0;
        b.sizeCode = sizeCode(p, in.index);
        auto name = p.bytes(oid::prtInputEntry, oid::prtInputName, {in.index});
        b.name = p.text(name, p.charset);
        if (b.name.empty())
            b.name = p.text(p.bytes(oid::prtInputEntry, oid::prtInputDescription, {in.index}), p.charset);
        b.text2 = p.text(p.bytes(oid::prtInputEntry, oid::prtInputMediaName, {in.index}), p.charset);
        p.profile.inputBins.push_back(std::move(b));
    }
    if (!p.inputs.empty()) p.snapshot.answer(kvbidi::kInputChars);
}

// Output-bin byte 7: bit 0 stapling, bit 1 punching, bit 2 folding, from the
// finishing processes that serve the bin, enabled or not (the byte tells
// what the bin can do), unless the printer says the process is not present;
// bit 7 offset stacking, present (on or off) in prtOutputOffsetStacking.
constexpr struct {
    int64_t type;
    uint8_t bit;
} kFinishingBits[] = {{oid::stitcher, 0x01}, {oid::puncher, 0x02}, {oid::folder, 0x04}};
constexpr uint8_t kOffsetStackingBit = 0x80;

// Whether a finisher's bit map of outputs (bit 0 the first byte's high bit)
// holds prtOutputIndex `output`.
bool serves(const std::string& outputs, uint32_t output) {
    const uint32_t bit = output - 1;
    return output != 0 && bit / 8 < outputs.size() && (static_cast<uint8_t>(outputs[bit / 8]) & (0x80 >> bit % 8));
}

uint8_t finishingByte(const Printer& p, uint32_t output) {
    uint8_t byte = 0;
    auto stacking = p.number(oid::prtOutputEntry, oid::prtOutputOffsetStacking, {output});
    if (stacking == oid::presentOn || stacking == oid::presentOff) byte |= kOffsetStackingBit;
    for (uint32_t finisher : p.rows(oid::finDeviceEntry)) {
        auto number = [&](uint32_t column) { return p.number(oid::finDeviceEntry, column, {finisher}); };
        const auto outputs = p.bytes(oid::finDeviceEntry, oid::finDeviceAssociatedOutputs, {finisher});
        if (number(oid::finDevicePresentOnOff) == oid::notPresent || !outputs || !serves(*outputs, output)) continue;
        for (const auto& f : kFinishingBits)
            if (number(oid::finDeviceType) == f.type) byte |= f.bit;
    }
    return byte;
}

void fillOutputChars(Printer& p) {
    for (const Output& out : p.outputs) {
        auto number = [&](uint32_t column) { return p.number(oid::prtOutputEntry, column, {out.index}); };
        kvsim::OutputBin b;
        b.number = out.number;
        auto type = number(oid::prtOutputType);
        b.byte1 = type == oid::unRemovableBin ? 1 : 2;   // integral, option
        b.capacity = clamp32(number(oid::prtOutputMaxCapacity));
        if (number(oid::prtOutputPageDeliveryOrientation) == oid::faceUp) b.byte6 |= 0x01;
        if (type == oid::removableBin || type == oid::mailBox) b.byte6 |= 0x20;
        b.byte7 = finishingByte(p, out.index);
        b.name = p.text(p.bytes(oid::prtOutputEntry, oid::prtOutputName, {out.index}), p.charset);
        if (b.name.empty())
            b.name = p.text(p.bytes(oid::prtOutputEntry, oid::prtOutputDescription, {out.index}), p.charset);
        p.profile.outputBins.push_back(std::move(b));
    }
    if (!p.outputs.empty()) p.snapshot.answer(kvbidi::kOutputChars);
}

void fillStorage(Printer& p, const std::vector<StorageRow>& rows, bool anyRow) {
    for (const StorageRow& r : rows) p.snapshot.addStorageOption(r.flash, r.sizeKb, r.freeKb);
    if (anyRow) p.snapshot.answer(kvbidi::kStorageOptions);
}

// The interpreter names the library knows.
const char* interpreterName(std::optional<int64_t> family) {
    if (family == oid::langPCL) return "PCL 5 Emulation";
    if (family == oid::langHPGL) return "GL 1 Emulation";
    if (family == oid::langPS) return "PostScript Emulation";
    if (family == oid::langPPDS) return "PPDS";
    return nullptr;
}

void fillInterpreters(Printer& p) {
    std::vector<uint32_t> rows = p.rows(oid::prtInterpreterEntry);
    for (uint32_t index : rows) {
        const char* name = interpreterName(p.number(oid::prtInterpreterEntry, oid::prtInterpreterLangFamily, {index}));
        if (!name) continue;
        bool listed = std::any_of(p.profile.interpreters.begin(), p.profile.interpreters.end(),
                                  [&](const kvsim::Interpreter& i) { return i.name == name; });
        if (listed) continue;
        if (index > kMaxRecords) {
            p.note("interpreter " + std::to_string(index) + ": index above 255, left out");
            continue;
        }
        p.profile.interpreters.push_back({static_cast<uint8_t>(index), 0, name});
    }
    if (!rows.empty()) p.snapshot.answer(kvbidi::kInterpreters);
}

// Port number = prtChannelType, listed when the channel accepts print data.
void fillPorts(Printer& p) {
    std::vector<uint32_t> rows = p.rows(oid::prtChannelEntry);
    for (uint32_t index : rows) {
        auto type = p.number(oid::prtChannelEntry, oid::prtChannelType, {index});
        auto state = p.number(oid::prtChannelEntry, oid::prtChannelState, {index});
        if (state != oid::printDataAccepted || !type || *type < 0 || *type > 255) continue;
        auto port = static_cast<uint8_t>(*type);
        if (std::find(p.profile.ports.begin(), p.profile.ports.end(), port) == p.profile.ports.end())
            p.profile.ports.push_back(port);
    }
    if (!rows.empty()) p.snapshot.answer(kvbidi::kAvailablePorts);
}

}  // namespace

void fillInventory(Printer& p) {
    bool anyStorageRow = false;
    std::vector<StorageRow> storage = storageRows(p, &anyStorageRow);
    fillDeviceChars(p, storage.size());
    fillInputChars(p);
    fillOutputChars(p);
    fillStorage(p, storage, anyStorageRow);
    fillInterpreters(p);
    fillPorts(p);
}

}  // namespace kvnet::snmp::detail
