// The printer's state from Get-Printer-Attributes: device status, alert
// records (reasons.h), supplies (supplies.h), trays (trays.h), the printer
// information's model and serial number, device characteristics, code
// levels and page counts.
#include "fill.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "reasons.h"
#include "supplies.h"
#include "text.h"
#include "trays.h"

namespace kvnet::ipp {
namespace {

constexpr size_t kMaxText = 255;   // counted texts of the replies

// printer-state (RFC 8011).
constexpr int32_t kStateIdle = 3, kStateProcessing = 4, kStateStopped = 5;

// Device status byte 0: bit 0 ready, bits 6-7 activity.
constexpr uint8_t kReady = 0x01;
constexpr uint8_t kActivityIdle = 0 << 6, kActivityPrinting = 1 << 6, kActivityOther = 3 << 6;

// Page count type of the lifetime impressions.
constexpr uint8_t kPageCountLife = 1;

// The alert runs a printer that reports its state reasons answers, if only
// with "no record".
constexpr uint16_t kAlertRuns[] = {kvbidi::kPaperJams,  kvbidi::kOperatorIV, kvbidi::kWarnings,
                                   kvbidi::kServiceReq, kvbidi::kConfigChg,  kvbidi::kSupplies};

// Firmware components by a word of printer-firmware-name (no case), the
// specific ones first: the line names of the code-level text.
struct Component {
    const char* word;
    const char* name;
};
constexpr Component kComponents[] = {
    {"engine", "ENG"},   {"panel", "PNL"},  {"ui", "PNL"},       {"network", "INA1"},
    {"duplex", "DPX"},   {"main", "CONT"},  {"system", "CONT"},  {"firmware", "CONT"},
};

const char* componentOf(const std::string& firmwareName) {
    std::vector<std::string> words(1);
    for (char c : firmwareName) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) words.back() += static_cast<char>(std::tolower(u));
        else if (!words.back().empty()) words.emplace_back();
    }
    for (const Component& c : kComponents)
        if (std::find(words.begin(), words.end(), c.word) != words.end()) return c.name;
    return nullptr;
}

uint8_t activityOf(int32_t state) {
    switch (state) {
    case kStateIdle: return kActivityIdle;
    case kStateProcessing: return kActivityPrinting;
    default: return kActivityOther;
    }
}

void fillDeviceStatus(const Attributes& printer, Snapshot* snapshot) {
    const int32_t state = numberOf(printer, "printer-state", 0);
    if (state == 0 || snapshot->answers(kvbidi::kDeviceStatus)) return;
    const bool accepting = numberOf(printer, "printer-is-accepting-jobs", 1) != 0;
    const uint8_t byte0 = static_cast<uint8_t>((accepting && state != kStateStopped ? kReady : 0) | activityOf(state));
    snapshot->profile.deviceStatus = {byte0, 0, 0};
    snapshot->answer(kvbidi::kDeviceStatus);
}

// printer-resolution-default as "600 DPI" ("600x1200 DPI" when the two differ).
std::string resolutionText(const Attributes& printer) {
    auto it = printer.find("printer-resolution-default");
    if (it == printer.end() || it->second.empty() || it->second.front().kind != AttributeValue::Kind::Resolution)
        return {};
    const AttributeValue& r = it->second.front();
    auto dpi = [&](int32_t n) {
        return r.text == "dpcm" ? static_cast<int64_t>(std::lround(n * 2.54)) : static_cast<int64_t>(n);
    };
    if (r.number <= 0 || r.upper <= 0) return {};
    std::string text = std::to_string(dpi(r.number));
    if (r.upper != r.number) text += "x" + std::to_string(dpi(r.upper));
    return text + " DPI";
}

// The printer information's model and serial number, where SNMP left them empty.
void fillIdentity(const Attributes& printer, Snapshot* snapshot) {
    PRTINFO& info = snapshot->profile.info;
    if (info.szModelName[0] == '\0')
        copyField(info.szModelName, sizeof info.szModelName,
                  latin1Line(textOf(printer, "printer-make-and-model"), sizeof info.szModelName - 1));
    if (info.szSerialNumber[0] == '\0')
        copyField(info.szSerialNumber, sizeof info.szSerialNumber,
                  latin1Line(textOf(printer, "printer-serial-number"), sizeof info.szSerialNumber - 1));
}

// Fields SNMP left empty are completed; the counts are IPP's only when SNMP
// did not answer.
void fillDeviceChars(const Attributes& printer, const Trays& trays, Snapshot* snapshot) {
    const std::string model = latin1Line(textOf(printer, "printer-make-and-model"), kMaxText);
    const auto versions = textsOf(printer, "printer-firmware-string-version");
    const std::string firmware = versions.empty() ? "" : latin1Line(versions.front(), kMaxText);
    const std::string resolution = resolutionText(printer);
    if (model.empty() && firmware.empty() && resolution.empty()) return;

    kvsim::DeviceChars& d = snapshot->profile.deviceChars;
    if (!snapshot->answers(kvbidi::kDeviceChars)) {
        d.byte2 = static_cast<uint8_t>(trays.inputs.size());
        auto sides = textsOf(printer, "sides-supported");
        d.byte7 = std::find(sides.begin(), sides.end(), "two-sided-long-edge") != sides.end() ? 1 : 0;
    }
    if (d.text1.empty()) d.text1 = model;
    if (d.codeLevel.empty()) d.codeLevel = firmware;
    if (d.text3.empty()) d.text3 = resolution;
    snapshot->answer(kvbidi::kDeviceChars);
}

// Miscellaneous variable 00 A6: "NAME: level" lines of the components the
// library knows, from printer-firmware-name and -string-version.
void fillCodeLevels(const Attributes& printer, Snapshot* snapshot) {
    auto& variables = snapshot->profile.miscVariables;
    auto known = [](const kvsim::Variable& v) { return v.id == kvsim::kMiscCodeLevels; };
    if (std::any_of(variables.begin(), variables.end(), known)) return;
    const auto names = textsOf(printer, "printer-firmware-name");
    const auto versions = textsOf(printer, "printer-firmware-string-version");
    std::string text;
    std::vector<std::string> listed;
    for (size_t i = 0; i < std::min(names.size(), versions.size()); ++i) {
        const char* component = componentOf(names[i]);
        if (component == nullptr || std::find(listed.begin(), listed.end(), component) != listed.end()) continue;
        listed.push_back(component);
        text += std::string(component) + ": " + latin1Line(versions[i], kMaxText) + "\n";
    }
    if (text.empty()) return;
    variables.push_back({kvsim::kMiscCodeLevels, kvsim::Bytes(text.begin(), text.end()), true});
    snapshot->answer(kvbidi::kReadMiscVar);
}

uint32_t impressionsOf(const Attributes& printer) {
    return static_cast<uint32_t>(std::max(numberOf(printer, "printer-impressions-completed", 0), 0));
}

void fillPageCounts(const Attributes& printer, Snapshot* snapshot) {
    if (numberOf(printer, "printer-impressions-completed", -1) < 0) return;
    auto& counts = snapshot->profile.pageCounts;
    auto life = [](const kvsim::PageCount& c) { return c.type == kPageCountLife; };
    if (std::none_of(counts.begin(), counts.end(), life)) counts.push_back({kPageCountLife, impressionsOf(printer)});
    snapshot->answer(kvbidi::kPageCounts);
}

}  // namespace

const std::vector<std::string>& printerAttributes() {
    static const auto& attributes = *new std::vector<std::string>{   // never destroyed: used on the loop until exit
        "printer-state",       "printer-state-reasons",           "printer-is-accepting-jobs",
        "printer-make-and-model", "printer-firmware-name",        "printer-firmware-string-version",
        "printer-resolution-default", "sides-supported",          "printer-impressions-completed",
        "printer-supply",      "marker-names",                    "marker-types",
        "marker-levels",       "marker-low-levels",               "marker-high-levels",
        "printer-input-tray",  "printer-output-tray",             "media-col-ready",
        "media-ready",         "printer-serial-number",
    };
    return attributes;
}

void fillPrinter(const Attributes& printer, Snapshot* snapshot) {
    const std::vector<Supply> supplies = readSupplies(printer, snapshot);
    const Trays trays = readTrays(printer, snapshot);
    fillDeviceStatus(printer, snapshot);
    if (printer.count("printer-state-reasons") != 0) {
        for (uint16_t run : kAlertRuns) snapshot->answer(run);
        fillReasons(printer, trays, supplies, snapshot);
    }
    fillSupplies(supplies, impressionsOf(printer), snapshot);
    fillTrays(trays, snapshot);
    fillIdentity(printer, snapshot);
    fillDeviceChars(printer, trays, snapshot);
    fillCodeLevels(printer, snapshot);
    fillPageCounts(printer, snapshot);
}

}  // namespace kvnet::ipp
