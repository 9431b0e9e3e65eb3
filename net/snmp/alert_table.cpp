// The alert mapping tables: prtAlertTable rows, the bits of
// hrPrinterDetectedErrorState and supply levels, each to the records of the
// alert runs whose keys the library's decoder (alerts/alert_tables.cpp) turns
// into the intended id (tests/net/snmpfill/alert_map.golden shows each row
// through the real decoder with kvprt's text).
#include "alert_table.h"

#include "oids.h"

namespace kvnet::snmp::alertmap {
namespace {

using namespace oid::code;

struct CodeName {
    uint16_t code;
    const char* name;
};
constexpr CodeName kCodeNames[] = {
    {other, "other"}, {unknown, "unknown"}, {coverOpen, "coverOpen"}, {coverClosed, "coverClosed"},
    {interlockOpen, "interlockOpen"}, {interlockClosed, "interlockClosed"},
    {configurationChange, "configurationChange"}, {jam, "jam"}, {subunitMissing, "subunitMissing"},
    {subunitLifeAlmostOver, "subunitLifeAlmostOver"}, {subunitLifeOver, "subunitLifeOver"},
    {subunitAlmostEmpty, "subunitAlmostEmpty"}, {subunitEmpty, "subunitEmpty"},
    {subunitAlmostFull, "subunitAlmostFull"}, {subunitFull, "subunitFull"}, {subunitOpened, "subunitOpened"},
    {subunitClosed, "subunitClosed"}, {subunitTurnedOn, "subunitTurnedOn"}, {subunitTurnedOff, "subunitTurnedOff"},
    {subunitOffline, "subunitOffline"}, {subunitPowerSaver, "subunitPowerSaver"},
    {subunitWarmingUp, "subunitWarmingUp"}, {subunitAdded, "subunitAdded"}, {subunitRemoved, "subunitRemoved"},
    {subunitResourceAdded, "subunitResourceAdded"}, {subunitResourceRemoved, "subunitResourceRemoved"},
    {subunitRecoverableFailure, "subunitRecoverableFailure"},
    {subunitUnrecoverableFailure, "subunitUnrecoverableFailure"},
    {subunitRecoverableStorageError, "subunitRecoverableStorageError"},
    {subunitUnrecoverableStorageError, "subunitUnrecoverableStorageError"},
    {subunitMotorFailure, "subunitMotorFailure"}, {subunitMemoryExhausted, "subunitMemoryExhausted"},
    {subunitUnderTemperature, "subunitUnderTemperature"}, {subunitOverTemperature, "subunitOverTemperature"},
    {subunitTimingFailure, "subunitTimingFailure"}, {subunitThermistorFailure, "subunitThermistorFailure"},
    {doorOpen, "doorOpen"}, {doorClosed, "doorClosed"}, {poweredUp, "poweredUp"}, {poweredDown, "poweredDown"},
    {printerNMSReset, "printerNMSReset"}, {printerManualReset, "printerManualReset"},
    {printerReadyToPrint, "printerReadyToPrint"}, {inputMediaTrayMissing, "inputMediaTrayMissing"},
    {inputMediaSizeChange, "inputMediaSizeChange"}, {inputMediaWeightChange, "inputMediaWeightChange"},
    {inputMediaTypeChange, "inputMediaTypeChange"}, {inputMediaColorChange, "inputMediaColorChange"},
    {inputMediaFormPartsChange, "inputMediaFormPartsChange"}, {inputMediaSupplyLow, "inputMediaSupplyLow"},
    {inputMediaSupplyEmpty, "inputMediaSupplyEmpty"}, {inputMediaChangeRequest, "inputMediaChangeRequest"},
    {inputManualInputRequest, "inputManualInputRequest"}, {inputTrayPositionFailure, "inputTrayPositionFailure"},
    {inputTrayElevationFailure, "inputTrayElevationFailure"},
    {inputCannotFeedSizeSelected, "inputCannotFeedSizeSelected"},
    {outputMediaTrayMissing, "outputMediaTrayMissing"}, {outputMediaTrayAlmostFull, "outputMediaTrayAlmostFull"},
    {outputMediaTrayFull, "outputMediaTrayFull"}, {markerFuserUnderTemperature, "markerFuserUnderTemperature"},
    {markerFuserOverTemperature, "markerFuserOverTemperature"}, {markerFuserTimingFailure, "markerFuserTimingFailure"},
    {markerFuserThermistorFailure, "markerFuserThermistorFailure"}, {markerTonerEmpty, "markerTonerEmpty"},
    {markerInkEmpty, "markerInkEmpty"}, {markerPrintRibbonEmpty, "markerPrintRibbonEmpty"},
    {markerTonerAlmostEmpty, "markerTonerAlmostEmpty"}, {markerInkAlmostEmpty, "markerInkAlmostEmpty"},
    {markerPrintRibbonAlmostEmpty, "markerPrintRibbonAlmostEmpty"},
    {markerWasteTonerReceptacleAlmostFull, "markerWasteTonerReceptacleAlmostFull"},
    {markerWasteInkReceptacleAlmostFull, "markerWasteInkReceptacleAlmostFull"},
    {markerWasteTonerReceptacleFull, "markerWasteTonerReceptacleFull"},
    {markerWasteInkReceptacleFull, "markerWasteInkReceptacleFull"},
    {markerOpcLifeAlmostOver, "markerOpcLifeAlmostOver"}, {markerOpcLifeOver, "markerOpcLifeOver"},
    {markerDeveloperAlmostEmpty, "markerDeveloperAlmostEmpty"}, {markerDeveloperEmpty, "markerDeveloperEmpty"},
    {markerTonerCartridgeMissing, "markerTonerCartridgeMissing"},
    {mediaPathCannotDuplexMediaSelected, "mediaPathCannotDuplexMediaSelected"},
    {interpreterMemoryIncrease, "interpreterMemoryIncrease"}, {interpreterMemoryDecrease, "interpreterMemoryDecrease"},
    {interpreterComplexPageEncountered, "interpreterComplexPageEncountered"},
    {alertRemovalOfBinaryChangeEntry, "alertRemovalOfBinaryChangeEntry"},
};

// Groups and subjects as list items.
constexpr uint16_t g(oid::PrtAlertGroup group) { return static_cast<uint16_t>(group); }
constexpr uint16_t s(Subject subject) { return static_cast<uint16_t>(subject); }

constexpr uint16_t kInput = g(oid::input), kOutput = g(oid::output), kSuppliesGroup = g(oid::markerSupplies),
                   kStorage = g(oid::hostResourcesMIBStorageTable), kPath = g(oid::mediaPath), kCover = g(oid::cover),
                   kFinSupply = g(oid::finSupply);
constexpr List kFinisherGroups{g(oid::finDevice), g(oid::finSupply), g(oid::finSupplyMediaInput),
                               g(oid::finAttribute)};
constexpr List kOtherSupplies{s(Subject::Opc), s(Subject::Fuser), s(Subject::OtherSupply)};

constexpr Target none{};
constexpr Target one(Shape shape) { return {shape, {}}; }

// Supplies-run records (kind 8): low 08 k 01 for supplies 1-4, 08 k 05 above
// (6221); empty 08 k FF for 1-4 (6227), 08 k 06 above (6220, the closest the
// kind has); a receptacle nearly full or full 08 k 04 (6222); staples low
// 07 k FF (6234), out 07 k 05 (6235).
constexpr Target kSupplyLow{item(kSupplies, 0x08, 1, 4, 0x01), item(kSupplies, 0x08, 5, 255, 0x05)};
constexpr Target kSupplyEmpty{item(kSupplies, 0x08, 1, 4, 0xFF), item(kSupplies, 0x08, 5, 255, 0x06)};
constexpr Target kReceptacleFull = one(item(kSupplies, 0x08, 1, 255, 0x04));
constexpr Target kStaplesLow = one(item(kSupplies, 0x07, 1, 255, 0xFF));
constexpr Target kStaplesEmpty = one(item(kSupplies, 0x07, 1, 255, 0x05));

// The rows, tried in order: name, codes, groups, subjects (empty: any),
// severity, field service only, the record of the condition's run, the
// record of the supplies run.
// clang-format off
constexpr AlertRule kRules[] = {
    // ---- noise: returns to normal, power saving, bookkeeping of the table (dropped) ----
    {"back to normal", {coverClosed, interlockClosed, subunitClosed, subunitTurnedOn, doorClosed, poweredUp,
                        poweredDown, printerReadyToPrint}, {}, {}, Severity::Any, false, none, none},
    {"power saver", {subunitPowerSaver}, {}, {}, Severity::Any, false, none, none},
    {"binary change entry removed", {alertRemovalOfBinaryChangeEntry}, {}, {}, Severity::Any, false, none, none},

    // ---- binary change events: the configuration-change run (kind 7) ----
    {"input added", {subunitAdded, subunitResourceAdded}, {kInput}, {}, Severity::Event, false,
     {item(kConfig, 0x01, 1, 255, 0x04), noItem(kConfig, 0x01, 0xFF, 0x09)}, none},
    {"input removed", {subunitRemoved, subunitResourceRemoved}, {kInput}, {}, Severity::Event, false,
     one(fixed(kConfig, 0x01, 0xFF, 0x0A)), none},
    {"disk added", {subunitAdded, subunitResourceAdded}, {kStorage}, {s(Subject::Disk)}, Severity::Event, false,
     one(fixed(kConfig, 0x03, 0xFF, 0x05)), none},
    {"disk removed", {subunitRemoved, subunitResourceRemoved}, {kStorage}, {s(Subject::Disk)}, Severity::Event,
     false, one(fixed(kConfig, 0x03, 0xFF, 0x06)), none},
    {"flash added", {subunitAdded, subunitResourceAdded}, {kStorage}, {s(Subject::Flash)}, Severity::Event, false,
     one(fixed(kConfig, 0x03, 0xFF, 0x07)), none},
    {"flash removed", {subunitRemoved, subunitResourceRemoved}, {kStorage}, {s(Subject::Flash)}, Severity::Event,
     false, one(fixed(kConfig, 0x03, 0xFF, 0x08)), none},
    {"memory added", {subunitAdded, subunitResourceAdded}, {kStorage}, {s(Subject::Memory)}, Severity::Event, false,
     one(fixed(kConfig, 0x09, 0xFF, 0x01)), none},
    {"memory increased", {interpreterMemoryIncrease}, {}, {}, Severity::Event, false,
     one(fixed(kConfig, 0x09, 0xFF, 0x01)), none},
    {"memory removed", {subunitRemoved, subunitResourceRemoved}, {kStorage}, {s(Subject::Memory)}, Severity::Event,
     false, one(fixed(kConfig, 0x09, 0xFF, 0x02)), none},
    {"memory decreased", {interpreterMemoryDecrease}, {}, {}, Severity::Event, false,
     one(fixed(kConfig, 0x09, 0xFF, 0x02)), none},
    {"duplex unit changed", {subunitAdded, subunitRemoved, configurationChange}, {kPath}, {s(Subject::DuplexPath)},
     Severity::Event, false, one(fixed(kConfig, 0x04, 0xFF, 0x0A)), none},
    {"input media changed", {inputMediaSizeChange, inputMediaWeightChange, inputMediaTypeChange,
                             inputMediaColorChange, inputMediaFormPartsChange}, {kInput}, {}, Severity::Event,
     false, {item(kConfig, 0x01, 1, 255, 0xFF), noItem(kConfig, 0x05, 0x00, 0x00)}, none},
    {"configuration changed", {}, {}, {}, Severity::Event, false, one(fixed(kConfig, 0x05, 0x00, 0x00)), none},

    // ---- current conditions: jams (kind 3) ----
    {"jam at an input", {jam}, {kInput}, {}, Severity::Current, false,
     {item(kJams, 0x01, 1, 5, 0x01), fixed(kJams, 0x01, 0xFF, 0x01)}, none},
    {"jam at an output", {jam}, {kOutput}, {}, Severity::Current, false,
     {item(kJams, 0x02, 1, 3, 0xFF), fixed(kJams, 0x02, 0xFF, 0xFF)}, none},
    {"jam in the duplex path", {jam}, {kPath}, {s(Subject::DuplexPath)}, Severity::Current, false,
     one(fixed(kJams, 0x04, 0xFF, 0xFF)), none},
    {"jam in a finisher", {jam}, kFinisherGroups, {}, Severity::Current, false, one(fixed(kJams, 0x07, 0x02, 0x01)),
     none},
    {"jam inside the printer", {jam}, {g(oid::generalPrinter), g(oid::marker), kSuppliesGroup,
                                       g(oid::markerColorant), kPath}, {}, Severity::Current, false,
     one(fixed(kJams, 0x03, 0xFF, 0xFF)), none},
    {"jam", {jam}, {}, {}, Severity::Current, false, one(fixed(kJams, 0x05, 0x00, 0x00)), none},

    // ---- operator intervention (kind 4) and warnings (kind 5) ----
    {"cover open", {coverOpen, interlockOpen, doorOpen}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x03, 0x01, 0xFF)), none},
    {"cover open", {subunitOpened}, {kCover}, {}, Severity::Current, false, one(fixed(kOperator, 0x03, 0x01, 0xFF)),
     none},
    {"input empty", {inputMediaSupplyEmpty}, {}, {}, Severity::Current, false,
     {item(kOperator, 0x01, 1, 255, 0x01), noItem(kOperator, 0x01, 0xFF, 0x01)}, none},
    {"input empty", {subunitEmpty}, {kInput}, {}, Severity::Current, false,
     {item(kOperator, 0x01, 1, 255, 0x01), noItem(kOperator, 0x01, 0xFF, 0x01)}, none},
    {"input missing", {inputMediaTrayMissing}, {}, {}, Severity::Current, false,
     {item(kOperator, 0x01, 1, 255, 0x08), noItem(kOperator, 0x01, 0xFF, 0x08)}, none},
    {"input missing", {subunitMissing}, {kInput}, {}, Severity::Current, false,
     {item(kOperator, 0x01, 1, 255, 0x08), noItem(kOperator, 0x01, 0xFF, 0x08)}, none},
    {"manual feed request", {inputManualInputRequest}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x01, 0x01, 0xFF)), none},
    {"media size requested", {inputMediaSizeChange, inputMediaChangeRequest, inputCannotFeedSizeSelected}, {}, {},
     Severity::Current, false, one(fixed(kOperator, 0x03, 0x12, 0xFF)), none},
    {"media type requested", {inputMediaTypeChange}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x03, 0x13, 0xFF)), none},
    {"input low", {inputMediaSupplyLow}, {}, {}, Severity::Current, false,
     {item(kWarnings, 0x01, 1, 255, 0x03), noItem(kWarnings, 0x01, 0xFF, 0x03)}, none},
    {"input nearly empty", {subunitAlmostEmpty}, {kInput}, {}, Severity::Current, false,
     {item(kWarnings, 0x01, 1, 255, 0x0B), noItem(kWarnings, 0x01, 0xFF, 0x0B)}, none},
    {"output full", {outputMediaTrayFull}, {}, {}, Severity::Current, false,
     {item(kOperator, 0x02, 1, 255, 0x01), noItem(kOperator, 0x02, 0xFF, 0x01)}, none},
    {"output full", {subunitFull}, {kOutput}, {}, Severity::Current, false,
     {item(kOperator, 0x02, 1, 255, 0x01), noItem(kOperator, 0x02, 0xFF, 0x01)}, none},
    {"output nearly full", {outputMediaTrayAlmostFull}, {}, {}, Severity::Current, false,
     {item(kWarnings, 0x02, 1, 255, 0x04), noItem(kWarnings, 0x02, 0xFF, 0x04)}, none},
    {"output nearly full", {subunitAlmostFull}, {kOutput}, {}, Severity::Current, false,
     {item(kWarnings, 0x02, 1, 255, 0x04), noItem(kWarnings, 0x02, 0xFF, 0x04)}, none},
    // "Output bin missing" has no id: the nearest key, 02 k 0B, means "full".
    {"output missing", {outputMediaTrayMissing}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x05, 0x00, 0x00)), none},
    {"output missing", {subunitMissing}, {kOutput}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x05, 0x00, 0x00)), none},
    {"toner cartridge missing", {markerTonerCartridgeMissing}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x04, 0xFF)), none},
    {"toner cartridge missing", {subunitMissing}, {kSuppliesGroup}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x04, 0xFF)), none},
    {"toner empty", {markerTonerEmpty, markerInkEmpty}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x01, 0xFF)), kSupplyEmpty},
    {"toner empty", {subunitEmpty}, {kSuppliesGroup}, {s(Subject::Toner)}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x01, 0xFF)), kSupplyEmpty},
    {"staples out", {subunitEmpty}, {kSuppliesGroup}, {s(Subject::Staples)}, Severity::Current, false, none,
     kStaplesEmpty},
    {"staples out", {subunitEmpty}, {kFinSupply}, {}, Severity::Current, false, none, kStaplesEmpty},
    {"supply empty", {markerPrintRibbonEmpty, markerDeveloperEmpty}, {}, {}, Severity::Current, false, none,
     kSupplyEmpty},
    {"supply empty", {subunitEmpty}, {kSuppliesGroup}, kOtherSupplies, Severity::Current, false, none, kSupplyEmpty},
    {"toner low", {markerTonerAlmostEmpty, markerInkAlmostEmpty}, {}, {}, Severity::Current, false,
     {item(kWarnings, 0x08, 1, 4, 0x01), noItem(kWarnings, 0x08, 0xFF, 0x01)}, kSupplyLow},
    {"toner low", {subunitAlmostEmpty}, {kSuppliesGroup}, {s(Subject::Toner)}, Severity::Current, false,
     {item(kWarnings, 0x08, 1, 4, 0x01), noItem(kWarnings, 0x08, 0xFF, 0x01)}, kSupplyLow},
    {"staples low", {subunitAlmostEmpty}, {kSuppliesGroup}, {s(Subject::Staples)}, Severity::Current, false, none,
     kStaplesLow},
    {"staples low", {subunitAlmostEmpty}, {kFinSupply}, {}, Severity::Current, false, none, kStaplesLow},
    {"supply low", {markerPrintRibbonAlmostEmpty, markerDeveloperAlmostEmpty}, {}, {}, Severity::Current, false,
     none, kSupplyLow},
    {"supply low", {subunitAlmostEmpty}, {kSuppliesGroup}, kOtherSupplies, Severity::Current, false, none,
     kSupplyLow},
    {"waste nearly full", {markerWasteTonerReceptacleAlmostFull, markerWasteInkReceptacleAlmostFull}, {}, {},
     Severity::Current, false, none, kReceptacleFull},
    {"waste nearly full", {subunitAlmostFull}, {kSuppliesGroup}, {s(Subject::Receptacle)}, Severity::Current, false,
     none, kReceptacleFull},
    {"waste full", {markerWasteTonerReceptacleFull, markerWasteInkReceptacleFull}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x02, 0xFF)), kReceptacleFull},
    {"waste full", {subunitFull}, {kSuppliesGroup}, {s(Subject::Receptacle)}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x02, 0xFF)), kReceptacleFull},
    {"photoconductor nearly worn out", {markerOpcLifeAlmostOver}, {}, {}, Severity::Current, false,
     one(fixed(kWarnings, 0x08, 0x06, 0x06)), none},
    {"photoconductor nearly worn out", {subunitLifeAlmostOver}, {kSuppliesGroup}, {s(Subject::Opc)},
     Severity::Current, false, one(fixed(kWarnings, 0x08, 0x06, 0x06)), none},
    {"photoconductor worn out", {markerOpcLifeOver}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x06, 0xFF)), none},
    {"photoconductor worn out", {subunitLifeOver}, {kSuppliesGroup}, {s(Subject::Opc)}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x06, 0xFF)), none},
    {"fuser worn out", {subunitLifeOver}, {kSuppliesGroup}, {s(Subject::Fuser)}, Severity::Current, false,
     one(fixed(kOperator, 0x08, 0x07, 0xFF)), none},
    {"supply nearly worn out", {subunitLifeAlmostOver}, {kSuppliesGroup}, {}, Severity::Current, false, none,
     kSupplyLow},
    {"supply worn out", {subunitLifeOver}, {kSuppliesGroup}, {}, Severity::Current, false, none, kSupplyEmpty},
    {"complex page", {interpreterComplexPageEncountered}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x09, 0x01, 0xFF)), none},
    {"memory full", {subunitMemoryExhausted}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x09, 0x02, 0xFF)), none},
    {"cannot duplex the media", {mediaPathCannotDuplexMediaSelected}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x04, 0xFF, 0x03)), none},
    {"warming up", {subunitWarmingUp}, {}, {}, Severity::Current, false, one(fixed(kOperator, 0x03, 0x01, 0x07)),
     none},
    {"resetting", {printerNMSReset, printerManualReset}, {}, {}, Severity::Current, false,
     one(fixed(kOperator, 0x03, 0x01, 0x0A)), none},

    // ---- service required (kind 6) ----
    {"failure", {subunitUnrecoverableFailure, subunitUnrecoverableStorageError, subunitMotorFailure,
                 subunitUnderTemperature, subunitOverTemperature, subunitTimingFailure, subunitThermistorFailure,
                 markerFuserUnderTemperature, markerFuserOverTemperature, markerFuserTimingFailure,
                 markerFuserThermistorFailure}, {}, {}, Severity::Current, false,
     one(fixed(kService, 0x03, 0xFF, 0x01)), none},

    // ---- finishers, field service, and everything else ----
    {"finisher needs attention", {}, kFinisherGroups, {}, Severity::Critical, false,
     one(fixed(kOperator, 0x07, 0x02, 0x01)), none},
    {"finisher warning", {}, kFinisherGroups, {}, Severity::Warning, false,
     {item(kWarnings, 0x07, 1, 255, 0xFF), fixed(kWarnings, 0x07, 0xFF, 0xFF)}, none},
    {"field service", {}, {}, {}, Severity::Current, true, one(fixed(kService, 0x03, 0xFF, 0x01)), none},
    {"other critical", {}, {}, {}, Severity::Critical, false, one(fixed(kOperator, 0x03, 0x01, 0x01)), none},
    {"other warning", {}, {}, {}, Severity::Warning, false, one(fixed(kWarnings, 0x05, 0x00, 0x00)), none},
};
// clang-format on

using Items = ErrorBitRule::Items;
constexpr ErrorBitRule kErrorBits[] = {
    {oid::lowPaper, "lowPaper", Items::LowInputs,
     {item(kWarnings, 0x01, 1, 255, 0x03), noItem(kWarnings, 0x01, 0xFF, 0x03)},
     {inputMediaSupplyLow, subunitAlmostEmpty}},
    {oid::noPaper, "noPaper", Items::EmptyInputs,
     {item(kOperator, 0x01, 1, 255, 0x01), noItem(kOperator, 0x01, 0xFF, 0x01)}, {inputMediaSupplyEmpty, subunitEmpty}},
    {oid::lowToner, "lowToner", Items::None, one(fixed(kWarnings, 0x08, 0x01, 0x01)),
     {markerTonerAlmostEmpty, markerInkAlmostEmpty}},
    {oid::noToner, "noToner", Items::None, one(fixed(kOperator, 0x08, 0x01, 0xFF)), {markerTonerEmpty, markerInkEmpty}},
    {oid::doorOpen, "doorOpen", Items::None, one(fixed(kOperator, 0x03, 0x01, 0xFF)),
     {coverOpen, interlockOpen, doorOpen, subunitOpened}},
    {oid::jammed, "jammed", Items::None, one(fixed(kJams, 0x05, 0x00, 0x00)), {jam}},
    // Clears the ready bit of the device status; no record.
    {oid::offline, "offline", Items::None, none, {}},
    {oid::serviceRequested, "serviceRequested", Items::None, one(fixed(kService, 0x03, 0xFF, 0x01)), {}},
    {oid::inputTrayMissing, "inputTrayMissing", Items::MissingInputs,
     {item(kOperator, 0x01, 1, 255, 0x08), noItem(kOperator, 0x01, 0xFF, 0x08)},
     {inputMediaTrayMissing, subunitMissing}},
    {oid::outputTrayMissing, "outputTrayMissing", Items::None, one(fixed(kOperator, 0x05, 0x00, 0x00)),
     {outputMediaTrayMissing}},
    {oid::markerSupplyMissing, "markerSupplyMissing", Items::None, one(fixed(kOperator, 0x08, 0x04, 0xFF)),
     {markerTonerCartridgeMissing}},
    {oid::outputNearFull, "outputNearFull", Items::NearFullOutputs,
     {item(kWarnings, 0x02, 1, 255, 0x04), noItem(kWarnings, 0x02, 0xFF, 0x04)},
     {outputMediaTrayAlmostFull, subunitAlmostFull}},
    {oid::outputFull, "outputFull", Items::FullOutputs,
     {item(kOperator, 0x02, 1, 255, 0x01), noItem(kOperator, 0x02, 0xFF, 0x01)}, {outputMediaTrayFull, subunitFull}},
    {oid::inputTrayEmpty, "inputTrayEmpty", Items::EmptyInputs,
     {item(kOperator, 0x01, 1, 255, 0x01), noItem(kOperator, 0x01, 0xFF, 0x01)}, {inputMediaSupplyEmpty, subunitEmpty}},
    {oid::overduePreventMaint, "overduePreventMaint", Items::None, one(fixed(kService, 0x03, 0xFF, 0x02)), {}},
};

// ---- the checks ----

constexpr bool validShape(const Shape& shape) {
    if (shape.how == Shape::Instance::None) return shape.run == 0;
    if (shape.run < kJams || shape.run > kSupplies || shape.category < 1 || shape.category > 9) return false;
    return shape.how != Shape::Instance::Item || (shape.lo >= 1 && shape.lo <= shape.hi);
}
// Both shapes of a target give records of one run; a second shape follows a first.
constexpr bool validTarget(const Target& t) {
    if (!validShape(t.first) || !validShape(t.second)) return false;
    if (t.first.how == Shape::Instance::None) return t.second.how == Shape::Instance::None;
    return t.second.how == Shape::Instance::None || t.second.run == t.first.run;
}
constexpr bool rulesValid() {
    bool catchAll[3] = {};   // Event, Critical, Warning
    for (const AlertRule& r : kRules) {
        if (!validTarget(r.main) || !validTarget(r.supplies)) return false;
        if (r.supplies.first.run != 0 && r.supplies.first.run != kSupplies) return false;
        if (r.main.first.run == kSupplies) return false;   // supplies records go in `supplies`
        for (uint8_t i = 0; i < r.subjects.size; ++i)
            if (r.subjects.item[i] > s(Subject::Finisher)) return false;
        bool any = r.codes.empty() && r.groups.empty() && r.subjects.empty() && !r.fieldService;
        if (any && r.severity == Severity::Event) catchAll[0] = true;
        if (any && r.severity == Severity::Critical) catchAll[1] = true;
        if (any && r.severity == Severity::Warning) catchAll[2] = true;
    }
    // Every event and every current condition finds a row.
    return catchAll[0] && catchAll[1] && catchAll[2];
}
static_assert(rulesValid());

constexpr bool errorBitsValid() {
    int last = -1;
    for (const ErrorBitRule& r : kErrorBits) {
        if (r.bit > 15 || r.bit <= last || !validTarget(r.target)) return false;
        last = r.bit;
    }
    return true;
}
static_assert(errorBitsValid());

constexpr bool codeNamesSorted() {
    for (size_t i = 1; i < std::size(kCodeNames); ++i)
        if (kCodeNames[i - 1].code >= kCodeNames[i].code) return false;
    return true;
}
static_assert(codeNamesSorted());

bool severityMatches(Severity want, int64_t severity) {
    bool event = severity == oid::warningBinaryChangeEvent;
    switch (want) {
    case Severity::Any: return true;
    case Severity::Current: return !event;
    case Severity::Critical: return severity == oid::critical;
    case Severity::Warning: return !event && severity != oid::critical;
    case Severity::Event: return event;
    }
    return false;
}

bool matches(const AlertRule& r, const AlertEvent& e) {
    return (r.codes.empty() || r.codes.has(e.code)) && (r.groups.empty() || r.groups.has(e.group)) &&
           (r.subjects.empty() || r.subjects.has(s(e.subject))) && severityMatches(r.severity, e.severity) &&
           (!r.fieldService || e.training == oid::fieldService);
}

void applyTarget(const Target& t, int itemNumber, std::vector<Record>& out) {
    Record r;
    if (applyShape(t.first, itemNumber, &r) || applyShape(t.second, itemNumber, &r)) out.push_back(r);
}

}  // namespace

const char* subjectName(Subject subject) {
    static const char* const kNames[] = {"none",      "input",      "output",       "toner",     "receptacle",
                                         "opc",       "fuser",      "staples",      "supply",    "duplex path",
                                         "path",      "disk",       "flash",        "memory",    "storage",
                                         "finisher"};
    auto i = static_cast<size_t>(subject);
    return i < std::size(kNames) ? kNames[i] : "?";
}

const char* alertCodeName(int64_t code) {
    for (const CodeName& c : kCodeNames)
        if (c.code == code) return c.name;
    return nullptr;
}

std::span<const AlertRule> alertRules() { return kRules; }
std::span<const ErrorBitRule> errorBitRules() { return kErrorBits; }

bool applyShape(const Shape& shape, int itemNumber, Record* record) {
    uint8_t instance = 0;
    switch (shape.how) {
    case Shape::Instance::None: return false;
    case Shape::Instance::Fixed: instance = shape.instance; break;
    case Shape::Instance::Item:
        if (itemNumber < shape.lo || itemNumber > shape.hi) return false;
        instance = static_cast<uint8_t>(itemNumber);
        break;
    case Shape::Instance::NoItem:
        if (itemNumber >= 0) return false;
        instance = shape.instance;
        break;
    }
    *record = {shape.run, shape.category, instance, shape.condition};
    return true;
}

std::vector<Record> mapAlert(const AlertEvent& event, const AlertRule** rule) {
    std::vector<Record> out;
    if (rule) *rule = nullptr;
    for (const AlertRule& r : kRules) {
        if (!matches(r, event)) continue;
        if (rule) *rule = &r;
        applyTarget(r.main, event.item, out);
        applyTarget(r.supplies, event.item, out);
        break;
    }
    return out;
}

std::vector<Record> mapErrorBit(const ErrorBitRule& rule, const std::vector<int>& items) {
    std::vector<Record> out;
    if (rule.items == Items::None || items.empty()) {
        applyTarget(rule.target, -1, out);
        return out;
    }
    for (int i : items) applyTarget(rule.target, i, out);
    return out;
}

std::vector<Record> supplyRecords(Subject subject, int index, SupplyState state) {
    std::vector<Record> out;
    bool empty = state == SupplyState::Empty;
    const Target& t = subject == Subject::Staples      ? (empty ? kStaplesEmpty : kStaplesLow)
                      : subject == Subject::Receptacle ? kReceptacleFull
                      : empty                          ? kSupplyEmpty
                                                       : kSupplyLow;
    applyTarget(t, index, out);
    return out;
}

}  // namespace kvnet::snmp::alertmap
