// The base keywords of printer-state-reasons (RFC 8011, PWG 5100.9) and the
// alert records each gives, chosen so that the library's alert tables yield
// the intended alert: "media-empty" -> operator intervention 01 k 01, "Load
// paper in input source k". One row per keyword, sorted, checked below.
#include <algorithm>
#include <string_view>

#include "kvprtobj/bidicodes.h"
#include "reasons.h"

namespace kvnet::ipp {
namespace {

constexpr uint16_t kJams = kvbidi::kPaperJams;
constexpr uint16_t kOperator = kvbidi::kOperatorIV;
constexpr uint16_t kWarnings = kvbidi::kWarnings;
constexpr uint16_t kService = kvbidi::kServiceReq;
constexpr uint16_t kConfig = kvbidi::kConfigChg;
constexpr uint16_t kSupplies = kvbidi::kSupplies;

constexpr uint8_t kAnyItem = 0xFF;   // an instance taken from the items, else 0xFF

// Records by category and condition, named by what the library shows.
constexpr ReasonRecord kJamAnywhere{kJams, 0x05, 0x00, 0x00};                       // paper jam
constexpr ReasonRecord kJamInside{kJams, 0x03, 0xFF, 0xFF};                         // paper jam inside the printer
constexpr ReasonRecord kJamAtInput{kJams, 0x01, 0xFF, 0x01};                        // at an input source
constexpr ReasonRecord kJamAtOutput{kJams, 0x02, 0xFF, 0xFF};                       // at an output bin
constexpr ReasonRecord kLoadPaper{kOperator, 0x01, kAnyItem, 0x01, Items::EmptyInput};
constexpr ReasonRecord kInputMissing{kOperator, 0x01, kAnyItem, 0x08, Items::UnavailableInput};
constexpr ReasonRecord kManualFeed{kOperator, 0x01, 0x01, 0xFF};                    // manual feed needs paper
constexpr ReasonRecord kLoadSize{kOperator, 0x03, 0x12, 0xFF};                      // load the requested size
constexpr ReasonRecord kLoadType{kOperator, 0x03, 0x13, 0xFF};                      // load the requested type
constexpr ReasonRecord kEmptyBin{kOperator, 0x02, kAnyItem, 0x01, Items::FullOutput};
constexpr ReasonRecord kIntervention{kOperator, 0x05, 0x00, 0x00};                  // operator intervention required
constexpr ReasonRecord kCloseCover{kOperator, 0x03, 0x01, 0xFF};
constexpr ReasonRecord kTonerEmpty{kOperator, 0x08, 0x01, 0xFF};
constexpr ReasonRecord kWasteFull{kOperator, 0x08, 0x02, 0xFF};
constexpr ReasonRecord kReplaceOpc{kOperator, 0x08, 0x06, 0xFF};
constexpr ReasonRecord kMemoryFull{kOperator, 0x09, 0x02, 0xFF};
constexpr ReasonRecord kComplexPage{kOperator, 0x09, 0x01, 0xFF};
constexpr ReasonRecord kDuplexSize{kOperator, 0x04, 0xFF, 0x03};
constexpr ReasonRecord kInputLow{kWarnings, 0x01, kAnyItem, 0x03, Items::LowInput};
constexpr ReasonRecord kBinNearlyFull{kWarnings, 0x02, kAnyItem, 0x04, Items::NearlyFullOutput};
constexpr ReasonRecord kTonerLow{kWarnings, 0x08, kAnyItem, 0x01, Items::LowToner};
constexpr ReasonRecord kSupplyWarning{kWarnings, 0x08, kAnyItem, 0x01, Items::LowSupply};
constexpr ReasonRecord kOpcNearEnd{kWarnings, 0x08, 0x06, 0x06};
constexpr ReasonRecord kPrinterWarning{kWarnings, 0x05, 0x00, 0x00};
constexpr ReasonRecord kCallService{kService, 0x03, 0xFF, 0x01};
constexpr ReasonRecord kConfigChanged{kConfig, 0x05, 0x00, 0x00};
// The supplies family: low 01 (instances 5 and up: 05), empty FF (06), nearly full waste 06.
constexpr ReasonRecord kSupplyTonerEmpty{kSupplies, 0x08, kAnyItem, 0xFF, Items::EmptyToner, 0x06};
constexpr ReasonRecord kSupplyEmpty{kSupplies, 0x08, kAnyItem, 0xFF, Items::EmptySupply, 0x06};
constexpr ReasonRecord kSupplyTonerLow{kSupplies, 0x08, kAnyItem, 0x01, Items::LowToner, 0x05};
constexpr ReasonRecord kSupplyLow{kSupplies, 0x08, kAnyItem, 0x01, Items::LowSupply, 0x05};
constexpr ReasonRecord kSupplyDeveloperLow{kSupplies, 0x08, kAnyItem, 0x01, Items::LowDeveloper, 0x05};
constexpr ReasonRecord kSupplyWasteNearlyFull{kSupplies, 0x08, kAnyItem, 0x06, Items::NearlyFullWaste};
constexpr ReasonRecord kStaplesOut{kSupplies, 0x07, 0x01, 0x05};
constexpr ReasonRecord kStaplesLow{kSupplies, 0x07, 0x01, 0xFF};
constexpr ReasonRecord kNothing{};   // state only: the device status tells it

constexpr ReasonRow kRows[] = {
    {"configuration-change", {kConfigChanged}},
    {"connecting-to-device", {kNothing}},
    {"cover-open", {kCloseCover}},
    {"developer-empty", {kTonerEmpty}},
    {"developer-low", {kPrinterWarning, kSupplyDeveloperLow}},
    {"door-open", {kCloseCover}},
    {"fan-failure", {kCallService}},
    {"fuser-over-temp", {kCallService}},
    {"fuser-under-temp", {kCallService}},
    {"identify-printer-requested", {kNothing}},
    {"input-cannot-feed-size-selected", {kLoadSize}},
    {"input-manual-input-request", {kManualFeed}},
    {"input-media-size-change", {kLoadSize}},
    {"input-media-tray-jam", {kJamAtInput}},
    {"input-media-type-change", {kLoadType}},
    {"input-tray-missing", {kInputMissing}},
    {"interlock-open", {kCloseCover}},
    {"interpreter-complex-page-encountered", {kComplexPage}},
    {"interpreter-resource-unavailable", {kMemoryFull}},
    {"lamp-failure", {kCallService}},
    {"marker-supply-empty", {kTonerEmpty, kSupplyEmpty}},
    {"marker-supply-low", {kSupplyWarning, kSupplyLow}},
    {"marker-waste-almost-full", {kPrinterWarning, kSupplyWasteNearlyFull}},
    {"marker-waste-full", {kWasteFull}},
    {"media-empty", {kLoadPaper}},
    {"media-jam", {kJamAnywhere}},
    {"media-low", {kInputLow}},
    {"media-needed", {kLoadPaper}},
    {"media-path-cannot-duplex-media-selected", {kDuplexSize}},
    {"media-path-input-empty", {kLoadPaper}},
    {"media-path-input-jam", {kJamAtInput}},
    {"media-path-jam", {kJamInside}},
    {"media-path-output-jam", {kJamAtOutput}},
    {"motor-failure", {kCallService}},
    {"moving-to-paused", {kNothing}},
    {"none", {kNothing}},
    {"offline", {kNothing}},
    {"opc-life-over", {kReplaceOpc}},
    {"opc-near-eol", {kOpcNearEnd}},
    {"output-area-almost-full", {kBinNearlyFull}},
    {"output-area-full", {kEmptyBin}},
    {"output-media-tray-jam", {kJamAtOutput}},
    {"output-tray-missing", {kIntervention}},
    {"paused", {kNothing}},
    {"printer-restarted", {kNothing}},
    {"shutdown", {kNothing}},
    {"spool-area-full", {kMemoryFull}},
    {"stapler-almost-empty", {kStaplesLow}},
    {"stapler-empty", {kStaplesOut}},
    {"stopped", {kNothing}},
    {"timed-out", {kNothing}},
    {"toner-empty", {kTonerEmpty, kSupplyTonerEmpty}},
    {"toner-low", {kTonerLow, kSupplyTonerLow}},
    {"waste-receptacle-full", {kWasteFull}},
};

// "other" and unknown keywords.
constexpr ReasonRecord kOtherError{kOperator, 0x03, 0x01, 0x01};   // printer needs attention
constexpr ReasonRecord kOtherWarning = kPrinterWarning;

// Checks: keywords sorted and unique (so each has one row), runs 6 to 11,
// records that take their instance from the items written with kAnyItem,
// the second condition only in the supplies family.
constexpr bool wellFormed(const ReasonRecord& r) {
    if (r.run == 0) return r.items == Items::Fixed;
    if (r.run < kJams || r.run > kSupplies) return false;
    if (r.items != Items::Fixed && r.instance != kAnyItem) return false;
    return r.conditionAbove4 == 0 || r.run == kSupplies;
}
constexpr bool wellFormed() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        if (i > 0 && !(std::string_view(kRows[i - 1].keyword) < std::string_view(kRows[i].keyword))) return false;
        for (const ReasonRecord& r : kRows[i].records)
            if (!wellFormed(r)) return false;
    }
    return wellFormed(kOtherError) && wellFormed(kOtherWarning);
}
static_assert(wellFormed());

}  // namespace

std::span<const ReasonRow> reasonRows() { return kRows; }

const ReasonRow* findReason(std::string_view base) {
    auto it = std::lower_bound(std::begin(kRows), std::end(kRows), base,
                               [](const ReasonRow& row, std::string_view key) { return row.keyword < key; });
    return it != std::end(kRows) && it->keyword == base ? it : nullptr;
}

ReasonRecord otherReason(Severity severity) {
    switch (severity) {
    case Severity::Error: return kOtherError;
    case Severity::Warning: return kOtherWarning;
    case Severity::Report: break;
    }
    return kNothing;
}

}  // namespace kvnet::ipp
