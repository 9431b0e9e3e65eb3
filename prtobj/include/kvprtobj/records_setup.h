// Records of configuration, jobs, setup and device storage (setup/, prm/), in namespace kvrec;
// KVPrtObj re-exports each as its own nested name (KVPrtObj::INPUTBIN).
#pragma once

#include <cstdint>
#include <vector>

#include "kvprtobj/fw_base.h"

// A custom name of a form or an output bin (bidiGetFormNames, bidiGetOutputBinNicknames).
struct KVPO_API _CUSTOMNAME {
    uint16_t usNumber = 0;   // number of the form or output bin
    CString strName;
};

namespace kvrec {

// One component's code level (bidiGetCodeLevels). Component codes: 7701 the
// printer's base level, 7702 ENG, 7703 ENGB, 7704 ENGF, 7705 PNL, 7706 DPX,
// 7707 network adapter (INA, INA1, INA2 or a slot), 7708 CONT, 7709 FLKER,
// 7710 a slot holding an ISL.
struct KVPO_API CODELEVELS {
    int32_t lComponentId = 0;
    int32_t iInstance = 0;   // 0 for a single component; 1 or 2 for INA1/INA2; the slot number
    CString strCodeLevel;    // the level as the printer gave it
};

// The printer's property tag (bidiGetPropertyTag, bidiSetPropertyTag).
struct KVPO_API PROPERTYTAG {
    CString strTag;
};

// One print job (bidiQueryJobs, bidiQueryJobTranAlert); the fields are named
// by their place in the printer's job record.
struct KVPO_API KVPJOBDATA {
    uint8_t jobByte0 = 0;
    uint16_t jobNumber = 0;   // never 0 in a decoded job
    uint32_t jobByte3 = 0;
    uint8_t jobByte4 = 0;
    uint16_t jobWord5 = 0;
    uint16_t jobWord7 = 0;
    uint8_t jobBytes9[4] = {};
    uint8_t jobByte13 = 0;
    uint32_t jobLong17 = 0;
    uint32_t jobLong21 = 0;   // this and the following: full records only
    uint32_t jobLong25 = 0;
    uint32_t jobLong29 = 0;
    uint32_t jobLong33 = 0;
    uint32_t jobLong37 = 0;
    CString strJobJN;         // the JN item of the job-information texts
    CString strJobUR;         // the UR item
};

// One object-model variable as a host keeps it for a Quick Setup control
// object (KVQSThreadControl); the library never reads it.
struct KVPO_API OMVARIABLE {
    uint16_t usId = 0;        // the variable id
    uint8_t ucLength = 0;     // number of meaningful value bytes
    uint8_t ucValue[255] = {};
};

// Storage devices of the printer whose files the bidiDevice* members
// manage (libkvprm, kvprtobj/kvprm.h; docs/storage.md). Values other than
// DEVICE_FLASH and DEVICE_DISK name no device.
enum DEVICEID : int {
    DEVICE_NONE = 0,
    DEVICE_FLASH = 1,
    DEVICE_DISK = 2,
};

// A device-management alert (family 0x601, bidiDeviceQueryAlert): the
// printer reports an operation it has carried out.
struct KVPO_API DEVICEMGMTALERTDATA {
    enum OPERATION : uint8_t { OP_NONE = 0, OP_LISTING = 1, OP_FORMAT = 2, OP_DELETE = 3, OP_COPY = 4 };
    uint8_t byOperation = OP_NONE;          // OPERATION
    DEVICEID eDevice = DEVICE_NONE;         // the device listed, formatted or deleted from; a copy's target
    DEVICEID eSourceDevice = DEVICE_NONE;   // a copy's source; DEVICE_NONE for the other operations
    CString strFileName;                    // the file deleted or copied; empty otherwise
    CString strDirectoryData;               // OP_LISTING: the device's directory text, decoded by
                                            // parseDeviceDirectoryData; empty otherwise
};

// The directory of a storage device (parseDeviceDirectoryData). Sizes in bytes.
struct KVPO_API DEVICEDIRECTORYDATA {
    struct FILEENTRY {
        CString strName;
        uint64_t ullSize = 0;
    };
    DEVICEID eDevice = DEVICE_NONE;
    uint64_t ullCapacity = 0;
    uint64_t ullFreeSpace = 0;
    std::vector<FILEENTRY> aFiles;   // in the printer's order
};

}  // namespace kvrec
