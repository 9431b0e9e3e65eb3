// The objects the SNMP fill reads, by name: the Printer MIB (RFC 3805, root
// 1.3.6.1.2.1.43, enumerations of IANA-PRINTER-MIB), the Host Resources MIB
// (RFC 2790, 1.3.6.1.2.1.25), the system group and the interface and address
// tables of MIB-II and IP-MIB, and the firmware columns of ENTITY-MIB.
//
// A table is named by its entry; a column's OID is the entry followed by the
// column number (column()), a cell's the column followed by the row's index
// (cell()). Printer MIB tables are indexed by the printer's hrDeviceIndex
// first, then by their own index.
#pragma once

#include <cstdint>

#include "mib.h"

namespace kvnet::snmp::oid {

inline Oid column(const Oid& entry, uint32_t column) { return entry + Oid{column}; }
inline Oid cell(const Oid& entry, uint32_t column, const Oid& index) { return entry + Oid{column} + index; }

// ---- system group (SNMPv2-MIB), scalars ----
inline const Oid systemGroup{1, 3, 6, 1, 2, 1, 1};
inline const Oid sysDescr{1, 3, 6, 1, 2, 1, 1, 1, 0};
inline const Oid sysObjectID{1, 3, 6, 1, 2, 1, 1, 2, 0};
inline const Oid sysUpTime{1, 3, 6, 1, 2, 1, 1, 3, 0};
inline const Oid sysContact{1, 3, 6, 1, 2, 1, 1, 4, 0};
inline const Oid sysName{1, 3, 6, 1, 2, 1, 1, 5, 0};

// ---- interfaces (IF-MIB ifTable), indexed by ifIndex ----
inline const Oid ifEntry{1, 3, 6, 1, 2, 1, 2, 2, 1};
enum IfColumn : uint32_t { ifPhysAddress = 6 };

// ---- IPv4 addresses (IP-MIB ipAddrTable), indexed by the address's four bytes ----
inline const Oid ipAddrEntry{1, 3, 6, 1, 2, 1, 4, 20, 1};
enum IpAddrColumn : uint32_t { ipAdEntIfIndex = 2 };
// ---- any address (IP-MIB ipAddressTable), indexed by type, length, bytes ----
inline const Oid ipAddressEntry{1, 3, 6, 1, 2, 1, 4, 34, 1};
enum IpAddressColumn : uint32_t { ipAddressIfIndex = 3 };
enum InetAddressType : uint32_t { ipv4 = 1, ipv6 = 2 };

// ---- ENTITY-MIB entPhysicalTable, indexed by entPhysicalIndex ----
inline const Oid entPhysicalEntry{1, 3, 6, 1, 2, 1, 47, 1, 1, 1, 1};
enum EntPhysicalColumn : uint32_t { entPhysicalClass = 5, entPhysicalFirmwareRev = 9, entPhysicalSoftwareRev = 10 };
enum PhysicalClass : int64_t { physicalChassis = 3 };

// ---- Host Resources MIB ----
inline const Oid hrMemorySizeObject{1, 3, 6, 1, 2, 1, 25, 2, 2};   // the scalar's subtree
inline const Oid hrMemorySize{1, 3, 6, 1, 2, 1, 25, 2, 2, 0};      // kilobytes
inline const Oid hrStorageEntry{1, 3, 6, 1, 2, 1, 25, 2, 3, 1};    // indexed by hrStorageIndex
enum HrStorageColumn : uint32_t {
    hrStorageType = 2,
    hrStorageDescr = 3,
    hrStorageAllocationUnits = 4,
    hrStorageSize = 5,
    hrStorageUsed = 6,
};
// hrStorageType values.
inline const Oid hrStorageRam{1, 3, 6, 1, 2, 1, 25, 2, 1, 2};
inline const Oid hrStorageFixedDisk{1, 3, 6, 1, 2, 1, 25, 2, 1, 4};
inline const Oid hrStorageFlashMemory{1, 3, 6, 1, 2, 1, 25, 2, 1, 9};

inline const Oid hrDeviceEntry{1, 3, 6, 1, 2, 1, 25, 3, 2, 1};   // indexed by hrDeviceIndex
enum HrDeviceColumn : uint32_t { hrDeviceType = 2, hrDeviceDescr = 3, hrDeviceStatus = 5 };
inline const Oid hrDevicePrinter{1, 3, 6, 1, 2, 1, 25, 3, 1, 5};   // hrDeviceType of a printer
enum HrDeviceStatus : int64_t { hrUnknown = 1, hrRunning = 2, hrWarning = 3, hrTesting = 4, hrDown = 5 };

inline const Oid hrPrinterEntry{1, 3, 6, 1, 2, 1, 25, 3, 5, 1};   // indexed by hrDeviceIndex
enum HrPrinterColumn : uint32_t { hrPrinterStatus = 1, hrPrinterDetectedErrorState = 2 };
enum HrPrinterStatus : int64_t { hrPrinterOther = 1, hrPrinterUnknown = 2, hrPrinterIdle = 3, hrPrinterPrinting = 4,
                                 hrPrinterWarmup = 5 };
// hrPrinterDetectedErrorState bits; bit 0 is the most significant bit of the first octet.
enum HrErrorBit : unsigned {
    lowPaper = 0, noPaper = 1, lowToner = 2, noToner = 3, doorOpen = 4, jammed = 5, offline = 6,
    serviceRequested = 7, inputTrayMissing = 8, outputTrayMissing = 9, markerSupplyMissing = 10,
    outputNearFull = 11, outputFull = 12, inputTrayEmpty = 13, overduePreventMaint = 14,
};

// ---- Printer MIB ----
inline const Oid printmib{1, 3, 6, 1, 2, 1, 43};

inline const Oid prtGeneralEntry{1, 3, 6, 1, 2, 1, 43, 5, 1, 1};   // indexed by hrDeviceIndex
enum PrtGeneralColumn : uint32_t {
    prtGeneralConfigChanges = 1,
    prtGeneralCurrentLocalization = 2,
    prtMarkerDefaultIndex = 8,
    prtConsoleLocalization = 10,
    prtConsoleNumberOfDisplayLines = 11,
    prtConsoleNumberOfDisplayChars = 12,
    prtConsoleDisable = 13,
    prtGeneralPrinterName = 16,
    prtGeneralSerialNumber = 17,
    prtAlertCriticalEvents = 18,
    prtAlertAllEvents = 19,
};
constexpr uint32_t kPrtGeneralColumns = 19;
enum PrtConsoleDisable : int64_t { consoleEnabled = 3, consoleDisabled = 4, consoleEnabledLevel1 = 5,
                                   consoleEnabledLevel3 = 7 };

inline const Oid prtLocalizationEntry{1, 3, 6, 1, 2, 1, 43, 7, 1, 1};   // dev, prtLocalizationIndex
enum PrtLocalizationColumn : uint32_t { prtLocalizationCharacterSet = 4 };

inline const Oid prtInputEntry{1, 3, 6, 1, 2, 1, 43, 8, 2, 1};   // dev, prtInputIndex
enum PrtInputColumn : uint32_t {
    prtInputType = 2,
    prtInputDimUnit = 3,
    prtInputMediaDimFeedDirDeclared = 4,
    prtInputMediaDimXFeedDirDeclared = 5,
    prtInputMediaDimFeedDirChosen = 6,
    prtInputMediaDimXFeedDirChosen = 7,
    prtInputMaxCapacity = 9,
    prtInputCurrentLevel = 10,
    prtInputStatus = 11,
    prtInputMediaName = 12,
    prtInputName = 13,
    prtInputDescription = 18,
};
enum PrtInputType : int64_t { sheetFeedAutoRemovableTray = 3, sheetFeedAutoNonRemovableTray = 4,
                              sheetFeedManual = 5 };
enum PrtMediaUnit : int64_t { tenThousandthsOfInches = 3, micrometers = 4 };

inline const Oid prtOutputEntry{1, 3, 6, 1, 2, 1, 43, 9, 2, 1};   // dev, prtOutputIndex
enum PrtOutputColumn : uint32_t {
    prtOutputType = 2,
    prtOutputMaxCapacity = 4,
    prtOutputRemainingCapacity = 5,
    prtOutputStatus = 6,
    prtOutputName = 7,
    prtOutputDescription = 12,
    prtOutputPageDeliveryOrientation = 20,
    prtOutputOffsetStacking = 24,
};
enum PrtOutputType : int64_t { removableBin = 3, unRemovableBin = 4, mailBox = 6 };
enum PrtOutputPageDeliveryOrientation : int64_t { faceUp = 3, faceDown = 4 };
// PresentOnOff: a feature enabled, present but disabled, or absent.
enum PresentOnOff : int64_t { presentOn = 3, presentOff = 4, notPresent = 5 };

// Finisher MIB (RFC 3806): one row per finishing process, with the output
// bins it serves as a bit map (bit 0, the first byte's high bit, is
// prtOutputIndex 1).
inline const Oid finDeviceEntry{1, 3, 6, 1, 2, 1, 43, 30, 1, 1};   // dev, finDeviceIndex
enum FinDeviceColumn : uint32_t { finDeviceType = 2, finDevicePresentOnOff = 3, finDeviceAssociatedOutputs = 8 };
enum FinDeviceType : int64_t { stitcher = 3, folder = 4, puncher = 8 };

// PrtSubUnitStatusTC: bits 0-2 availability, then alert and on-line bits.
enum SubUnitStatus : int64_t {
    availableIdle = 0, unavailableOnRequest = 1, availableStandby = 2, unavailableBroken = 3,
    availableActive = 4, availabilityUnknown = 5, availableBusy = 6,
    availabilityMask = 7, nonCriticalAlerts = 8, criticalAlerts = 16, offLine = 32,
};
// Levels and capacities that are not measurements.
enum SpecialLevel : int64_t { levelOther = -1, levelUnknown = -2, levelSomeRemaining = -3 };

inline const Oid prtMarkerEntry{1, 3, 6, 1, 2, 1, 43, 10, 2, 1};   // dev, prtMarkerIndex
enum PrtMarkerColumn : uint32_t { prtMarkerCounterUnit = 3, prtMarkerLifeCount = 4 };
enum PrtMarkerCounterUnit : int64_t { counterImpressions = 7, counterSheets = 8 };

inline const Oid prtMarkerSuppliesEntry{1, 3, 6, 1, 2, 1, 43, 11, 1, 1};   // dev, prtMarkerSuppliesIndex
enum PrtMarkerSuppliesColumn : uint32_t {
    prtMarkerSuppliesMarkerIndex = 2,
    prtMarkerSuppliesClass = 4,
    prtMarkerSuppliesType = 5,
    prtMarkerSuppliesDescription = 6,
    prtMarkerSuppliesSupplyUnit = 7,
    prtMarkerSuppliesMaxCapacity = 8,
    prtMarkerSuppliesLevel = 9,
};
enum PrtMarkerSuppliesClass : int64_t { supplyOther = 1, supplyThatIsConsumed = 3, receptacleThatIsFilled = 4 };
enum PrtMarkerSuppliesType : int64_t {
    toner = 3, wasteToner = 4, ink = 5, inkCartridge = 6, inkRibbon = 7, wasteInk = 8, opc = 9,
    solidWax = 12, ribbonWax = 13, wasteWax = 14, fuser = 15, tonerCartridge = 21, wasteWater = 24,
    wastePaper = 26, staples = 32, matteToner = 35, matteInk = 36,
};
enum PrtMarkerSuppliesSupplyUnit : int64_t { unitImpressions = 7, unitSheets = 8, unitPercent = 19 };

inline const Oid prtMediaPathEntry{1, 3, 6, 1, 2, 1, 43, 13, 4, 1};   // dev, prtMediaPathIndex
enum PrtMediaPathColumn : uint32_t { prtMediaPathType = 9 };
enum PrtMediaPathType : int64_t { longEdgeBindingDuplex = 3, shortEdgeBindingDuplex = 4 };

inline const Oid prtChannelEntry{1, 3, 6, 1, 2, 1, 43, 14, 1, 1};   // dev, prtChannelIndex
enum PrtChannelColumn : uint32_t { prtChannelType = 2, prtChannelState = 6 };
enum PrtChannelState : int64_t { printDataAccepted = 3 };

inline const Oid prtInterpreterEntry{1, 3, 6, 1, 2, 1, 43, 15, 1, 1};   // dev, prtInterpreterIndex
enum PrtInterpreterColumn : uint32_t { prtInterpreterLangFamily = 2 };
enum PrtInterpreterLangFamily : int64_t { langPCL = 3, langHPGL = 4, langPS = 6, langPPDS = 8 };

inline const Oid prtConsoleDisplayBufferEntry{1, 3, 6, 1, 2, 1, 43, 16, 5, 1};   // dev, buffer index
enum PrtConsoleDisplayBufferColumn : uint32_t { prtConsoleDisplayBufferText = 2 };

inline const Oid prtAlertEntry{1, 3, 6, 1, 2, 1, 43, 18, 1, 1};   // dev, prtAlertIndex
enum PrtAlertColumn : uint32_t {
    prtAlertSeverityLevel = 2,
    prtAlertTrainingLevel = 3,
    prtAlertGroup = 4,
    prtAlertGroupIndex = 5,
    prtAlertLocation = 6,
    prtAlertCode = 7,
    prtAlertDescription = 8,
};
enum PrtAlertSeverityLevel : int64_t { severityOther = 1, critical = 3, warning = 4, warningBinaryChangeEvent = 5 };
enum PrtAlertTrainingLevel : int64_t { fieldService = 5 };
// PrtAlertGroupTC.
enum PrtAlertGroup : int64_t {
    groupOther = 1, groupUnknown = 2, hostResourcesMIBStorageTable = 3, hostResourcesMIBDeviceTable = 4,
    generalPrinter = 5, cover = 6, localization = 7, input = 8, output = 9, marker = 10, markerSupplies = 11,
    markerColorant = 12, mediaPath = 13, channel = 14, interpreter = 15, consoleDisplayBuffer = 16,
    consoleLights = 17, alert = 18, finDevice = 30, finSupply = 31, finSupplyMediaInput = 32, finAttribute = 33,
};

// PrtAlertCodeTC (the codes the fill maps or names).
namespace code {
enum PrtAlertCode : uint16_t {
    other = 1, unknown = 2, coverOpen = 3, coverClosed = 4, interlockOpen = 5, interlockClosed = 6,
    configurationChange = 7, jam = 8, subunitMissing = 9, subunitLifeAlmostOver = 10, subunitLifeOver = 11,
    subunitAlmostEmpty = 12, subunitEmpty = 13, subunitAlmostFull = 14, subunitFull = 15, subunitOpened = 18,
    subunitClosed = 19, subunitTurnedOn = 20, subunitTurnedOff = 21, subunitOffline = 22, subunitPowerSaver = 23,
    subunitWarmingUp = 24, subunitAdded = 25, subunitRemoved = 26, subunitResourceAdded = 27,
    subunitResourceRemoved = 28, subunitRecoverableFailure = 29, subunitUnrecoverableFailure = 30,
    subunitRecoverableStorageError = 31, subunitUnrecoverableStorageError = 32, subunitMotorFailure = 33,
    subunitMemoryExhausted = 34, subunitUnderTemperature = 35, subunitOverTemperature = 36,
    subunitTimingFailure = 37, subunitThermistorFailure = 38,
    doorOpen = 501, doorClosed = 502, poweredUp = 503, poweredDown = 504, printerNMSReset = 505,
    printerManualReset = 506, printerReadyToPrint = 507,
    inputMediaTrayMissing = 801, inputMediaSizeChange = 802, inputMediaWeightChange = 803,
    inputMediaTypeChange = 804, inputMediaColorChange = 805, inputMediaFormPartsChange = 806,
    inputMediaSupplyLow = 807, inputMediaSupplyEmpty = 808, inputMediaChangeRequest = 809,
    inputManualInputRequest = 810, inputTrayPositionFailure = 811, inputTrayElevationFailure = 812,
    inputCannotFeedSizeSelected = 813,
    outputMediaTrayMissing = 901, outputMediaTrayAlmostFull = 902, outputMediaTrayFull = 903,
    markerFuserUnderTemperature = 1001, markerFuserOverTemperature = 1002, markerFuserTimingFailure = 1003,
    markerFuserThermistorFailure = 1004,
    markerTonerEmpty = 1101, markerInkEmpty = 1102, markerPrintRibbonEmpty = 1103, markerTonerAlmostEmpty = 1104,
    markerInkAlmostEmpty = 1105, markerPrintRibbonAlmostEmpty = 1106, markerWasteTonerReceptacleAlmostFull = 1107,
    markerWasteInkReceptacleAlmostFull = 1108, markerWasteTonerReceptacleFull = 1109,
    markerWasteInkReceptacleFull = 1110, markerOpcLifeAlmostOver = 1111, markerOpcLifeOver = 1112,
    markerDeveloperAlmostEmpty = 1113, markerDeveloperEmpty = 1114, markerTonerCartridgeMissing = 1115,
    mediaPathCannotDuplexMediaSelected = 1304,
    interpreterMemoryIncrease = 1501, interpreterMemoryDecrease = 1502,
    interpreterComplexPageEncountered = 1509,
    alertRemovalOfBinaryChangeEntry = 1801,
};
}  // namespace code

}  // namespace kvnet::snmp::oid
