// The request codes the library sends, the variables and panel keys its
// requests name and the alert families it reads, in one table. Each request
// and reply format belongs to the operation named beside its code.
#pragma once

#include <array>

namespace kvbidi {

enum RequestCode : unsigned short {
    kDeviceStatus = 0x01,         // bidiQueryDeviceStatus
    kInputStatus = 0x02,          // bidiQueryInputStatus
    kOutputStatus = 0x03,         // bidiQueryOutputStatus
    kPaperJams = 0x06,            // bidiQueryPaperJams
    kOperatorIV = 0x07,           // bidiQueryOperatorIV
    kWarnings = 0x08,             // bidiQueryWarnings
    kServiceReq = 0x09,           // bidiQueryServiceReq
    kConfigChg = 0x0A,            // bidiQueryConfigChg
    kSupplies = 0x0B,             // bidiQuerySupplies
    kPageCounts = 0x0C,           // bidiGetPageCounts
    kSuppliesStatus = 0x0D,       // bidiQuerySuppliesStatus
    kDeviceChars = 0x10,          // bidiGetDeviceChars
    kInputChars = 0x12,           // bidiGetInputChars
    kOutputChars = 0x13,          // bidiGetOutputChars
    kStorageOptions = 0x14,       // bidiGetStorageOptions
    kInterpreters = 0x20,         // bidiGetInterpreterLU
    kFontDetails = 0x21,          // bidiGetFontDetails
    kPowerOnReset = 0x31,         // bidiPORPrinter
    kLoopBack = 0x34,             // bidiLoopBack
    kResetHostPageCount = 0x36,   // bidiResetHostPageCount
    kPushButton = 0x40,           // bidiROPPushButton
    kPanelText = 0x43,            // bidiROPQueryData
    kReadOMVar = 0x4E,            // bidiReadOMVar
    kSetOMVar = 0x4F,             // bidiSetOMVar
    kReadMiscVar = 0x56,          // bidiReadMiscVar
    kResetContinue = 0x57,        // bidiROPReset, bidiROPContinue
    kResetNVRAM = 0x6D,           // bidiResetNVRAM
    kQueryJobs = 0x75,            // bidiQueryJobs
    kDeleteJob = 0x76,            // bidiDeleteJob, flag 0
    kDeleteJobFlagged = 0x77,     // bidiDeleteJob, any other flag
    kRemoteOnOffline = 0x8D,      // SendRemoteOffline, SendRemoteOnline
    kOutputBinNicknames = 0x8E,   // bidiGetOutputBinNicknames
    kFormNames = 0x8F,            // bidiGetFormNames
    kSetFormName = 0x91,          // bidiSetFormName
    kSetOutputBinNickname = 0x92, // bidiSetOutputBinNickname
    kReadMultiOMVars = 0x94,      // bidiReadMultiOMVars
    kSymbolSets = 0x95,           // bidiGetSymbolSetList
    kCurrentFont = 0x96,          // bidiGetCurrentFontInformation
    kSetCurrentFont = 0x97,       // bidiSetCurrentFontInformation
    kChangeJobPriority = 0x98,    // bidiChangeJobPriority
    kTonerInfo = 0x9A,            // KvTonerPrediction::bidiQueryTonerInfo
    kAvailablePorts = 0x9B,       // bidiGetAvailablePorts
    kStorageListFiles = 0xA0,     // bidiResMgmtFileListing
    kStorageFormat = 0xA1,        // bidiResMgmtFormat
    kStorageDeleteFile = 0xA2,    // bidiResMgmtDeleteFile
    kStorageCopyFile = 0xA3,      // bidiResMgmtCopyFile
    kStorageReadDirectory = 0xA4, // bidiResMgmtQueryAlert (the listing)
};

// Variables the library reads or writes by number (kReadOMVar, kSetOMVar,
// kReadMiscVar).
enum VariableId : unsigned short {
    kPanelLockVar = 0x004D,        // object model, 1 while locked: bidiROPQueryLock, bidiROPSetLock
    kPropertyTagVar = 0x0754,      // object model: bidiSetPropertyTag
    kTonerPageCountVar = 0x0777,   // object model: KvTonerPrediction::bidiResetPageCount
    kCodeLevelsVar = 0x00A6,       // miscellaneous: bidiGetCodeLevels
    kPrinterTypeVar = 0x00A7,      // miscellaneous: bidiGetPrinterType
    kPrinterFamilyVar = 0x00B2,    // miscellaneous: bidiGetPrinterFamily
};

// A variable's number as requests carry it: two bytes, high byte first.
constexpr std::array<unsigned char, 2> idBytes(VariableId id) {
    return {static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id & 0xFF)};
}

// Panel keys of kResetContinue (after a zero byte) and the button of kPushButton.
enum PanelKey : unsigned char {
    kLockButton = 0x40,     // bidiROPSetLock, after the lock is written
    kContinueKey = 0xB0,    // bidiROPContinue
    kResetKey = 0xB1,       // bidiROPReset
};

// Alert families: the number an alert read passes to bidiQueryAlert.
enum AlertFamily : unsigned long {
    kDeviceStatusAlert = 0x5F4,   // bidiQueryDSAAlert
    kJobStatusAlert = 0x5F6,      // bidiJSQueryAlert
    kPanelAlert = 0x5F7,          // bidiROPQueryAlert
    kJobTransitionAlert = 0x5FD,  // bidiQueryJobTranAlert
    kOMVarEventAlert = 0x5FE,     // bidiQueryOMVarEventAlert
    kTonerAlert = 0x600,          // bidiQueryTonerAlert
    kStorageAlert = 0x601,        // bidiDeviceQueryAlert
};

// Alert reads always pass this flag.
constexpr int kAlertReadFlag = 2;

}  // namespace kvbidi

// Results of the library beyond the engine's codes. Elsewhere a result code
// is defined by one of these names, never by its number
// (.ci/check-result-codes).
enum : long {
    KVPO_E_PENDING = -25,        // a batched request whose reply is still on its way (KVPrtObjBatch::kPending)
};

// Results of the device-storage requests (0xA0..0xA4) beyond the engine's
// codes, from the status byte of the printer's reply (kvprtobj/kvprm.h).
enum : long {
    KVPRM_E_NO_DEVICE = -30,     // status 1: no such storage device
    KVPRM_E_NO_FILE = -31,       // status 2: no such file on the device
    KVPRM_E_NO_SPACE = -32,      // status 3: not enough room on the target
    KVPRM_E_FILE_EXISTS = -33,   // status 4: the target holds a file of that name
};
