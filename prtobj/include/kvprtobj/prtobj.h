// KVPrtObj: one object stands for one printer known to the communication
// engine by a 16-bit handle. Every request goes through the virtual bidiQuery,
// every alert read through the virtual bidiQueryAlert, so a host class derived
// from KVPrtObj that overrides them changes every operation that uses them.
//
// Result codes of the bidi* operations: 0 success; -2 bad reply; -3 invalid
// request or data; -10, -16, -17 channel down; -11 bidi not active; -18 no
// memory, buffer too small or a missing record argument; -30 to -33 device
// storage management (kvprtobj/kvprm.h); other negative engine codes pass
// through unchanged (BceResultText gives words for every code).
//
// Ownership: byte buffers the operations return (replies, variable values,
// alert data) are made with ::operator new and released by the caller with
// ::operator delete; arrays of records with text members with new[] / delete[];
// single objects with new / delete.
//
// The order of the virtual functions below is part of the interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kvprtobj/fw_base.h"
#include "kvprtobj/zorbce.h"

class JOBINFOSTRINGS;   // kvprtobj/jobs.h
class JSALERTDATA;      // kvprtobj/jsalert.h
class KVPrtObj;

namespace kvpo {   // the library's own helpers (prtobj/internal/ask.h)
struct Asked;
inline Asked readAlert(KVPrtObj& printer, unsigned short alertId, unsigned long family);
}  // namespace kvpo

// One variable of a multiple read of object-model variables.
struct KVPO_API _MULTIOMVAR {
    uint16_t id;          // the two id bytes as they stand in the reply (most significant first in memory)
    uint8_t length;       // number of meaningful value bytes, at most 33
    uint8_t value[33];
};

// One font of the printer: an entry of bidiGetFontDetails (filled by
// parseFontDescription from the font's description text) or the current font
// (bidiGetCurrentFontInformation, bidiSetCurrentFontInformation). Every numeric
// field starts at 0.
struct KVPO_API _FONTDETAILS {
    // Bits of usValidFlags: which fields a description gave.
    static constexpr uint16_t FONT_SCALABLE = 0x01;        // technology Intellifont or TrueType
    static constexpr uint16_t FONT_PITCH = 0x02;           // ulSize is a pitch
    static constexpr uint16_t FONT_HEIGHT = 0x04;          // ulSize is a height
    static constexpr uint16_t FONT_SYMBOLSET = 0x08;       // usSymbolSet given
    static constexpr uint16_t FONT_CHARCOMPLEMENT = 0x10;  // abCharComplement given
    // Values of byTechnology.
    static constexpr uint8_t TECH_NONE = 0;
    static constexpr uint8_t TECH_BITMAP = 1;
    static constexpr uint8_t TECH_INTELLIFONT = 2;
    static constexpr uint8_t TECH_TRUETYPE = 3;

    uint8_t byFontTag = 0;              // tag of the font record; the parser does not touch it
    CString strName;                    // key "name", its leading space kept
    uint16_t usPosition = 0;            // key "position"
    uint8_t byTechnology = TECH_NONE;   // key "technology"
    uint16_t usSymbolSet = 0;           // key "ssid"; the binary symbol-set id
    uint8_t abCharComplement[8] = {};   // key "ccid", 64 bits in the order of its digits
    uint8_t bySpacing = 0;              // key "spacing": 0 or 1
    uint32_t ulSize = 0;                // key "pitch" or "height", rounded to a whole number
    int32_t lStyle = 0;                 // key "style"
    int32_t lWeight = 0;                // key "weight"
    int32_t lTypeface = 0;              // key "typeface"
    int32_t lResolution = 0;            // key "resolution"
    uint16_t usValidFlags = 0;          // FONT_* bits, or-ed in by the parser
    uint16_t usReserved2 = 0;
    uint32_t ulReserved = 0;
};

// One symbol set of bidiGetSymbolSetList.
struct KVPO_API _SYMBOLSET {
    uint16_t usSymbolSet = 0;           // symbol-set id
    uint8_t abCharComplement[8] = {};   // character complement as the printer sent it
    CString strName;
};

// A custom name of a form or an output bin (bidiGetFormNames, bidiGetOutputBinNicknames).
struct KVPO_API _CUSTOMNAME {
    uint16_t usNumber = 0;   // number of the form or output bin
    CString strName;
};

class KVPO_API KVPrtObj : public CObject {
public:
    // Capabilities as found by discovery (bidiQueryCaps).
    struct BIDICAPABILITIES {
        int bBidiActive = 0;         // the bidi-active flag; moved by the transport afterwards
        int bInfoFlag15 = 0;         // bit 15 of the printer information's flags
        int bHasCapturedPorts = 0;   // some LPT port of this computer is captured to the printer
        int nConnectionKind = 0;     // how the printer is attached, 0..13
        uint32_t dwStatusFlags = 0;  // bit 0: bidi-capable per discovery
        uint32_t dwProtocols = 0;    // bits 0..7: network types 0x01 0x02 0x80 0x04 0x40 0x20 0x08 0x10
        int nCapturedPorts = 0;      // captured LPT ports with a live connection
        int nAddressCount = 0;       // entries in strAddresses, 0..3
        CString strPortName;
        CString strAdapterAddress;   // 12 upper-case hexadecimal digits, or empty
        CString strNetName1;         // name for network type 0x01
        CString strNetName2;         // name for network type 0x02 (or 0x80)
        CString strNetName3;         // name for network type 0x04, 0x40, 0x08 or 0x20
        CString strCapturedPorts;    // "LPT1:  (remote), ..."
        CString strAddresses;        // "[IP]  a.b.c.d, [IPX]  ..., [DLC]  ..."
    };

    // Type of printer settings file that suits this printer (setPrinterType).
    enum PSFTYPES { PSF_NONE = 0, PSF_TYPE0_FILE = 1, PSF_TYPE1_FILE = 2 };

    // Printer types as the three-argument constructor and bidiGetPrinterType know them.
    static constexpr unsigned long PRINTER_TYPE_0 = 0;
    static constexpr unsigned long PRINTER_TYPE_1 = 1;
    static constexpr unsigned long PRINTER_TYPE_UNKNOWN = 0xFFFFFFFF;

    enum KVNETACCESSLEVEL { KVNET_USER = 1, KVNET_ADMINISTRATOR = 2 };

    // Page counters of bidiGetPageCounts; type 3 is never filled.
    struct PAGECOUNTDATA {
        uint32_t dwPageCountType1 = 0;
        uint32_t dwPageCountType2 = 0;
        uint32_t dwPageCountType3 = 0;
        uint32_t dwPageCountType4 = 0;
    };

    // ---- records of alerts and status ----

    // One alert of an alert list: an identifier from 6102 to 6257 (the host
    // keeps the texts) and the value that qualifies it, as a rule the number of
    // the tray, bin or supply the alert names. Alert lists are contiguous
    // arrays made with ::operator new and released with ::operator delete;
    // an empty list is a null pointer with count 0.
    struct KVPALERTDATA {
        uint16_t usAlertId;
        uint16_t usAlertValue;
    };
    static_assert(sizeof(KVPALERTDATA) == 4);

    // The summary forms of the alert families fold their replies into one
    // client-owned word (the client initialises all 32 bits, e.g. with memset);
    // each summary clears only its own bits, then sets them.
    // Bit 6 is cleared by the paper-jam summary, bits 9 and 15..31 are touched
    // by no operation.
    struct PRTALERTS {
        uint32_t bConfigChanged : 1;      //  0 configuration change: the reply holds a record
        uint32_t bAlert6102 : 1;          //  1 operator intervention 03 01 01 or 03 FF 01
        uint32_t bAlert6103 : 1;          //  2 operator intervention 04 FF 01
        uint32_t bJamCategory4 : 1;       //  3 paper jams: a record of category 4
        uint32_t bJamCategory1 : 1;       //  4 ... category 1
        uint32_t bJamCategory3 : 1;       //  5 ... category 3
        uint32_t : 1;                     //  6
        uint32_t bJamCategory2 : 1;       //  7 ... category 2
        uint32_t bInputStateZero : 1;     //  8 input status: a present source with state value 0
        uint32_t : 1;                     //  9
        uint32_t bOutputStateSeven : 1;   // 10 output status: a bin with state value 7
        uint32_t bServiceCategory3 : 1;   // 11 service required: a record of category 3
        uint32_t bSuppliesCategory8 : 1;  // 12 warnings, supplies: a record of category 8
        uint32_t bInputStatusFlag : 1;    // 13 input status: a present source with the status flag
        uint32_t bOtherIntervention : 1;  // 14 operator intervention: the last record is not recognised
        uint32_t : 17;
    };
    static_assert(sizeof(PRTALERTS) == 4);

    // Filled by the operator-intervention summary, which zeroes it first: bit n
    // is set by the record the list form reports as alert 6119 + n.
    struct UIRALERTS {
        uint32_t bAlert6119 : 1;  // 03 06 FF
        uint32_t bAlert6120 : 1;  // 03 04 FF
        uint32_t bAlert6121 : 1;  // 01 04 FF
        uint32_t bAlert6122 : 1;  // 01 05 FF
        uint32_t bAlert6123 : 1;  // 04 01 FF
        uint32_t bAlert6124 : 1;  // 03 02 FF
        uint32_t bAlert6125 : 1;  // 03 0C FF
        uint32_t bAlert6126 : 1;  // 03 0A FF
        uint32_t bAlert6127 : 1;  // 01 03 FF
        uint32_t bAlert6128 : 1;  // 04 02 FF
        uint32_t bAlert6129 : 1;  // 03 07 FF
        uint32_t bAlert6130 : 1;  // 03 03 FF
        uint32_t bAlert6131 : 1;  // 03 05 FF
        uint32_t bAlert6132 : 1;  // 03 0D FF
        uint32_t bAlert6133 : 1;  // 01 02 FF
        uint32_t bAlert6134 : 1;  // 03 01 FF
        uint32_t bAlert6135 : 1;  // 03 16 FF (not 03 0E FF or 03 19 FF)
        uint32_t bAlert6136 : 1;  // 03 09 FF
        uint32_t bAlert6137 : 1;  // 01 01 FF
        uint32_t bAlert6138 : 1;  // 03 0B FF
        uint32_t bAlert6139 : 1;  // 03 08 FF
        uint32_t : 11;
    };
    static_assert(sizeof(UIRALERTS) == 4);

    // One snapshot of the operator panel; created by bidiROPQueryData and
    // bidiROPQueryAlert, released by the client with delete. The dimensions
    // stay 0 until a text is decoded.
    struct OPPANELDATA {
        int32_t nPanelWidth = 0;    // characters per line (the object's m_nPanelWidth)
        int32_t nPanelHeight = 0;   // lines (the object's m_nPanelHeight)
        CString strPanelText;       // line after line, ISO 8859-1, up to the first zero byte
    };

    // Device status, client-owned: bits 0..10 are replaced by every decode,
    // bits 11..31 keep what the client set.
    struct PRINTERSTATUS {
        uint32_t uStatusByte0Bit0 : 1;     // bit 0 of status byte 0
        uint32_t uStatusByte0Bits67 : 2;   // bits 6..7 of status byte 0
        uint32_t uStatusByte1 : 4;         // bits 0..3 of status byte 1
        uint32_t uStatusByte2 : 4;         // bits 0..3 of status byte 2
        uint32_t : 21;
    };
    static_assert(sizeof(PRINTERSTATUS) == 4);

    // An object-model variable event (bidiQueryOMVarEventAlert). Fields the
    // event type does not name keep their values.
    struct OMVAREVENTDATA {
        uint8_t byEventType = 0;      // 9: variable value; 12: single value byte
        uint8_t byValue = 0;          // type 12: the value byte
        uint8_t abyVarId[2] = {};     // type 9: the variable id, most significant byte first
        uint8_t* pbyData = nullptr;   // type 9: a copy of the value bytes (::operator new; the
                                      // client releases it with ::operator delete); no length is kept
    };

    // ---- records of device characteristics ----

    // The device characteristics of bidiGetDeviceChars. The printer gives the
    // meaning of the three bytes and of texts 1 and 3; the library carries them.
    struct DEVICECHARS {
        uint8_t byReply7 = 0;    // reply byte 7
        CString strText1;        // first counted text
        CString strCodeLevel;    // second counted text: the printer's base code level
        CString strText3;        // third counted text
        uint32_t ulReply2 = 0;   // reply byte 2
        uint32_t ulReply11 = 0;  // reply byte 11
        uint32_t ulSizeKB = 0;   // reply bytes 19-22 (a byte count) in kilobytes, rounded down
    };

    // Ids of input bins that hosts map to display texts (INPUTBIN::usBinId).
    // IB_NONE: a bin that neither naming step recognises.
    enum InputBinId : uint16_t {
        IB_NONE = 0,
        IB_MANUAL_PAPER = 7101,      // "Manual Paper", "Manual Feed", bin number 1
        IB_MANUAL_ENVELOPE = 7102,   // "Manual Envelope", bin number 2
        IB_TRAY1 = 7103,             // "Tray 1", bin number 3
        IB_TRAY2 = 7104,             // "Tray 2", bin number 4 of a printer with 5 or more bins or of capacity 500
        IB_TRAY3 = 7105,             // "Tray 3"
        IB_FEEDER_HIGH = 7106,       // feeder with size code 80 or more
        IB_FEEDER_LOW = 7107,        // feeder with size code below 80
        IB_FEEDER1 = 7108,           // the bin reported just before a named bin that got IB_FEEDER2
        IB_FEEDER2 = 7109,           // "Feeder 2"
        IB_MULTIPURPOSE = 7110,      // "MFF", "MP Tray"
        IB_TRAY4 = 7111,             // "Tray 4"
        IB_TRAY5 = 7112,             // "Tray 5"
    };

    // One input bin of bidiGetInputChars. Every numeric field starts at 0.
    struct INPUTBIN {
        uint16_t usBinNumber = 0;   // the printer's number of the bin
        uint16_t usBinId = IB_NONE; // InputBinId given by parseInputBinsByName or parseInputBinsByID
        uint32_t ulCapacity = 0;
        CString strName;            // as reported (all its counted bytes); empty when unnamed
        uint16_t usReserved = 0;    // never set
        uint16_t usSizeCode = 0;
        uint16_t usByte8 = 0;       // record byte 8, carried only
    };

    // Summary of the input sources, one slot per kind of source, filled by
    // parseInputCharsByName / parseInputCharsByID from the values of INPUTBIN
    // records (Bin fields: a bin number, 0 = none; Size: a size code; Attr:
    // the attribute passed to the step). Starts all 0; the steps never clear
    // it as a whole.
    struct INPUTCHARS {
        uint32_t ulManualPaperBin = 0;
        uint32_t ulManualEnvelopeBin = 0;
        uint32_t ulFeederBinHigh = 0;   // the single feeder, size code 80 or more
        uint32_t ulFeederBinLow = 0;    // the single feeder, size code below 80
        uint32_t ulTwoFeeders = 0;      // 1 once "Feeder 2" was seen
        uint32_t ulFeeder1BinHigh = 0;
        uint32_t ulFeeder2BinHigh = 0;
        uint32_t ulTray1Bin = 0;
        uint32_t ulTray2Bin = 0;
        uint32_t ulTray3Bin = 0;
        uint32_t ulFeederSize = 0;
        uint32_t ulFeeder1Size = 0;
        uint32_t ulFeeder2Size = 0;
        uint32_t ulManualEnvelopeSize = 0;
        uint32_t ulTray1Size = 0;
        uint32_t ulTray2Size = 0;
        uint32_t ulTray3Size = 0;
        uint32_t ulManualPaperSize = 0;
        uint32_t ulTray1Attr = 0;
        uint32_t ulTray2Attr = 0;
        uint32_t ulTray3Attr = 0;
        uint32_t ulManualPaperAttr = 0;
        uint32_t ulManualEnvelopeAttr = 0;
        uint32_t ulFeederAttr = 0;
        uint32_t ulFeeder1Attr = 0;
        uint32_t ulFeeder2Attr = 0;
        uint32_t ulTray1Capacity = 0;
        uint32_t ulTray2Capacity = 0;
        uint32_t ulTray3Capacity = 0;
    };
    static_assert(sizeof(INPUTCHARS) == 29 * 4);

    // Ids of output bins that hosts map to display texts (OUTPUTBIN::usBinId).
    // OB_NONE: a named bin that parseOutputBinsByName does not recognise, or an
    // unnamed bin that no property rule covers.
    enum OutputBinId : uint16_t {
        OB_NONE = 0,
        OB_PROPERTY_BIT5 = 7201,     // unnamed, ulByte6Bit5 set and usByte1 1
        OB_PROPERTY_BIT0 = 7203,     // unnamed, ulByte6Bit0 set and usByte1 1
        OB_PROPERTY_BYTE7 = 7204,    // unnamed, any of ulByte7Bit0..2 set
        OB_STANDARD = 7205,          // "Standard Bin"
        OB_STACKER1 = 7206,          // "Bin1:500-Sheet Output Stacker"
        OB_STACKER2 = 7207,          // "Bin2:500-Sheet Output Stacker"
        OB_STACKER3 = 7208,          // "Bin3:500-Sheet Output Stacker"
        OB_HIGH_CAPACITY = 7209,     // "Bin1:High Capacity Output Stacker"
        OB_FINISHER1 = 7210,         // "Bin1:Finisher"; "BinK:Finisher" gets OB_FINISHER1 + K - 1, K up to 15
        OB_FINISHER15 = 7224,
    };

    // One output bin of bidiGetOutputChars. Every numeric field starts at 0.
    struct OUTPUTBIN {
        uint16_t usBinNumber = 0;   // the printer's number of the bin
        uint16_t usBinId = OB_NONE; // OutputBinId
        uint32_t ulCapacity = 0;
        CString strName;            // as reported (all its counted bytes); empty when unnamed
        uint16_t usByte1 = 0;       // record byte 1
        uint32_t ulByte6Bit0 = 0;   // bits 0..5 of record byte 6, each 0 or 1
        uint32_t ulByte6Bit1 = 0;
        uint32_t ulByte6Bit2 = 0;
        uint32_t ulByte6Bit3 = 0;
        uint32_t ulByte6Bit4 = 0;
        uint32_t ulByte6Bit5 = 0;
        uint32_t ulByte7Bit0 = 0;   // bits 0..2 and 7 of record byte 7, each 0 or 1
        uint32_t ulByte7Bit1 = 0;
        uint32_t ulByte7Bit2 = 0;
        uint32_t ulByte7Bit7 = 0;
    };

    // Optional storage of the printer (bidiGetStorageOptions). Numbers and
    // texts are cut out of the printer's entry texts at fixed places.
    struct STORAGEOPTIONS {
        uint32_t ulFontCartridge = 0;   // 1 when a font-cartridge entry is present
        CString strCartridgeField4;     // cartridge field 4 from index 11; empty when it begins with "-1"
        CString strCartridgeField2;     // cartridge field 2 from index 9
        int32_t lFlashField2 = 0;       // flash field 2, number from index 7
        int32_t lFlashField3 = 0;       // flash field 3, number from index 12; -1 becomes 0
        int32_t lDiskField2 = 0;        // disk field 2, number from index 7
        int32_t lDiskField3 = 0;        // disk field 3, number from index 12; -1 becomes 0
    };

    // ---- records of configuration, jobs and setup ----

    // The keyed items of a job-information text (kvprtobj/jobs.h).
    using JOBINFOSTRINGS = ::JOBINFOSTRINGS;

    // One component's code level (bidiGetCodeLevels). Component codes: 7701 the
    // printer's base level, 7702 ENG, 7703 ENGB, 7704 ENGF, 7705 PNL, 7706 DPX,
    // 7707 network adapter (INA, INA1, INA2 or a slot), 7708 CONT, 7709 FLKER,
    // 7710 a slot holding an ISL.
    struct CODELEVELS {
        int32_t lComponentId = 0;
        int32_t iInstance = 0;   // 0 for a single component; 1 or 2 for INA1/INA2; the slot number
        CString strCodeLevel;    // the level as the printer gave it
    };

    // The printer's property tag (bidiGetPropertyTag, bidiSetPropertyTag).
    struct PROPERTYTAG {
        CString strTag;
    };

    // One print job (bidiQueryJobs, bidiQueryJobTranAlert); the fields are named
    // by their place in the printer's job record.
    struct KVPJOBDATA {
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
    struct OMVARIABLE {
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
    struct DEVICEMGMTALERTDATA {
        enum OPERATION : uint8_t { OP_NONE = 0, OP_LISTING = 1, OP_FORMAT = 2, OP_DELETE = 3, OP_COPY = 4 };
        uint8_t byOperation = OP_NONE;          // OPERATION
        DEVICEID eDevice = DEVICE_NONE;         // the device listed, formatted or deleted from; a copy's target
        DEVICEID eSourceDevice = DEVICE_NONE;   // a copy's source; DEVICE_NONE for the other operations
        CString strFileName;                    // the file deleted or copied; empty otherwise
        CString strDirectoryData;               // OP_LISTING: the device's directory text, decoded by
                                                // parseDeviceDirectoryData; empty otherwise
    };

    // The directory of a storage device (parseDeviceDirectoryData). Sizes in bytes.
    struct DEVICEDIRECTORYDATA {
        struct FILEENTRY {
            CString strName;
            uint64_t ullSize = 0;
        };
        DEVICEID eDevice = DEVICE_NONE;
        uint64_t ullCapacity = 0;
        uint64_t ullFreeSpace = 0;
        std::vector<FILEENTRY> aFiles;   // in the printer's order
    };

    // Reply buffer sizes of the transport.
    static constexpr unsigned long kDefaultReplySize = 2048;
    static constexpr unsigned long kMaxReplySize = 64000;
    static constexpr unsigned long kAlertBufferSize = 2048;

    KVPrtObj();
    KVPrtObj(unsigned short handle, int initialize);
    KVPrtObj(unsigned short handle, unsigned long printerType, int initialize);
    KVPrtObj(const KVPrtObj&) = delete;
    ~KVPrtObj() override;

    // Copies everything but the lock, the object type and the network type;
    // the retry count last, the notification window through setNotificationWindow.
    // operator=, bidiSetPropertyTag, bidiSetFormName and bidiSetOutputBinNickname
    // take constant references where a plain reference is declared: every call
    // written against the declaration compiles as it stands.
    KVPrtObj& operator=(const KVPrtObj& other);

    // The results declared constant keep their qualifier (a host overriding a
    // member or taking its address with the declared type compiles), though
    // it changes nothing for a value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
    const PSFTYPES getPsfType() const { return m_ePsfType; }
    const CString& getPsfHeader() const { return m_strPsfHeader; }
    const int getKVPrtObjType() const { return m_nObjType; }
    const unsigned int getBidiQueryNetType() const { return m_uBidiQueryNetType; }
    const unsigned short getBCEHandle() const { return m_usBceHandle; }
    void setBceAppId(short appId) { m_sBceAppId = appId; }
    // Why requests are refused with -11, so that a host can name the real
    // failure rather than the refusals that follow it: the result of the
    // request that last cleared the bidi-active flag (-2, -10, -11, -16 or
    // -17, as the transport or a batch got it from the engine), or the
    // engine's result when discovery (bidiInitialize) could not read the
    // printer information. 0 while the flag is set, and when it was cleared
    // otherwise (setBidi(0), discovery of a printer that is not
    // bidi-capable); setting the flag (setBidi with a non-zero value, or
    // discovery) resets it. Copied by operator=.
    long getBidiFailure() const { return m_lBidiFailure.load(); }

    // 1 when `netType` is valid for this printer (see isValidNetType in the transport).
    const int isValidNetType(unsigned int netType) const;
    // Stores `netType`, or 0 when it is not valid for this printer; returns what was stored.
    const unsigned int setBidiQueryNetType(unsigned int netType) const;

    // Printer identity (engine calls, no bidi request).
    const long getPrinterInfo(PRTINFO* info) const;
    const long getBCENetAddress(NETADDRESS_LEVEL2* address, unsigned int netType) const;
    const KVNETACCESSLEVEL getNetAccessLevel(unsigned int value) const;
#pragma GCC diagnostic pop


    // Remote offline/online (request 0x8D).
    long SendRemoteOffline();
    long SendRemoteOnline();

    // Appends one entry to an alert list of `*count` entries: the list is
    // reallocated to exactly `*count + 1` entries (::operator new, the old one
    // released with ::operator delete) and `*count` grows by 1; a null list
    // must come with count 0. Returns 1. Memory exhaustion throws
    // std::bad_alloc to the caller; entries added before stay in the list.
    KVPO_LOCAL int addAlert(KVPALERTDATA** list, unsigned short id, unsigned short value, unsigned int* count);

    // Device characteristics: the queries of the printer's bins, storage,
    // interpreters, fonts and symbol sets (bidiGetInputChars and its
    // neighbours below) share these rules:
    // - A null pointer argument gives -18; nothing is sent and nothing written.
    // - A reply too short for what it claims (a count, a record, a counted text
    //   running past its end) gives -2. Lists then return nothing: count and
    //   array stay untouched and there is nothing to free (bidiGetFontDetails
    //   excepted, see there). Bytes after the last record are ignored.
    // - When an array cannot be allocated the result is -18, the array pointer
    //   is set to null and the count holds the count the reply gave; no record
    //   is decoded.
    // - Arrays are made with new[] and released by the caller with delete[].

    // Symbol sets (request 0x95): S records, each id, character complement and
    // name. Success: *count = S and *sets a new array of S (allocated also when
    // S is 0). Transport failure or -2: both untouched. A reply shorter than
    // 11 bytes per announced record gives -2 before anything is allocated.
    long bidiGetSymbolSetList(unsigned short* count, _SYMBOLSET** sets);
    // The current font (request 0x96): writes byFontTag, usPosition,
    // usSymbolSet and ulSize only. A reply shorter than 10 bytes gives -2 and
    // leaves the record untouched.
    long bidiGetCurrentFontInformation(_FONTDETAILS* font);
    // Sets the current font (request 0x97) from byFontTag, usPosition,
    // usSymbolSet and ulSize of `font` (only read); *status receives the
    // printer's status byte. A reply shorter than 2 bytes gives -2, *status untouched.
    long bidiSetCurrentFontInformation(_FONTDETAILS* font, unsigned char* status);

    // Writes the property tag (object-model variable 07 54): the result of bidiSetOMVar.
    long bidiSetPropertyTag(const CString& tag);

    // Custom names of forms (requests 0x8F, 0x91) and output bins (0x8E, 0x92).
    // A read hands over a new array (delete[]) of *count names; with a count of
    // 0 the array pointer is not touched. A reply too short for the count or
    // for an entry it announces gives -2 with both outputs untouched; null
    // output pointers give -18 and nothing is sent.
    long bidiGetFormNames(_CUSTOMNAME** names, unsigned short* count);
    long bidiGetOutputBinNicknames(_CUSTOMNAME** names, unsigned short* count);
    // A write sends the name with a terminating 0 byte behind a length byte
    // holding its length + 1; a name of 255 characters or more does not fit
    // that byte and is refused with -3 (nothing is sent).
    long bidiSetFormName(unsigned short number, const CString& name);
    long bidiSetOutputBinNickname(unsigned short number, const CString& name);

    // ---- virtual functions, in table order ----
    virtual int validVelkorProtocols();
    virtual void getPrinterType(unsigned long* type, unsigned long* subtype) const;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
    virtual const int getBidiCaps(BIDICAPABILITIES* caps) const;
#pragma GCC diagnostic pop

    virtual long bidiInitialize(int bRefresh);
    virtual long bidiQueryCaps(BIDICAPABILITIES* caps, int bRefresh);
    virtual long bidiGetPrinterFamily(unsigned long* family);
    virtual long bidiGetPrinterInfo(PRTINFO* info);
    virtual long bidiGetPrinterType(unsigned long* type, unsigned long* rawType);
    // Request 0x10. The three texts are emptied first; a non-empty second text
    // is also kept in the object for bidiGetCodeLevels. A null record gives -18
    // (nothing sent). A reply that does not hold every fixed field and all three
    // counted texts gives -2: the texts stay empty, the numeric fields and the
    // kept code level as they were.
    virtual long bidiGetDeviceChars(DEVICECHARS* chars);
    virtual long bidiGetPageCounts(PAGECOUNTDATA* counts);
    // Storage devices (request 0x14): the first flash, disk and font-cartridge
    // entries. An entry is text up to its first 0 byte, split into fields at
    // ";" (empty fields skipped). ulFontCartridge, lFlashField2, lDiskField2
    // and the two texts are reset first; lFlashField3 and lDiskField3 are
    // written only when their entry is present. A value whose field is
    // missing, or shorter than the character index it is read from, leaves its
    // record field unchanged. A reply whose entries run past its end gives -2
    // with the record untouched.
    virtual long bidiGetStorageOptions(STORAGEOPTIONS* options);
    // One record per component named in the printer's code-level text
    // (miscellaneous variable 00 A6), headed by the base level (7701) kept from
    // bidiGetDeviceChars or asked for with it. *levels receives a new array
    // (delete[]) of 1 + (colons in the text) slots whose first `count` are
    // filled. When the base level cannot be had, its failure code is returned
    // but the parsed records are still handed over. A SLOT line whose value is
    // the single word INA or ISL gives a record with an empty level text.
    // -2 when the working copy of the text cannot be made; a null `levels`
    // gives -18 and nothing is sent.
    virtual long bidiGetCodeLevels(int& count, CODELEVELS** levels);
    // Request 0x9B, sent even while bidi is marked inactive: flags[p] = 1 for
    // every port p < n that the printer lists, all other flags 0. A negative n
    // is taken as 0 (no flags). A null `flags` gives -18 and nothing is sent.
    virtual long bidiGetAvailablePorts(int n, int* flags);
    // Request 0x34, sent even while bidi is marked inactive; the reply is not examined.
    virtual long bidiLoopBack();
    // Input bins (request 0x12). Success: *count = N and *bins a new array of N
    // (allocated also when N is 0). A bin's id comes from parseInputBinsByName
    // when it is named, else from parseInputBinsByID; a bin neither recognises
    // keeps IB_NONE. A named bin that gets IB_FEEDER2 turns the id of the bin
    // before it into IB_FEEDER1.
    virtual long bidiGetInputChars(unsigned int* count, INPUTBIN** bins);
    // Output bins (request 0x13). Success: *count = N and *bins a new array of
    // N (allocated also when N is 0). A bin is named when its name is not empty
    // and does not begin with a 0 byte; named bins get their id from
    // parseOutputBinsByName, unnamed ones from the property bits; a bin that
    // gets none keeps OB_NONE.
    virtual long bidiGetOutputChars(unsigned int* count, OUTPUTBIN** bins);
    virtual long bidiResetHostPageCount();
    virtual long bidiPORPrinter();
    virtual long bidiResetNVRAM();

    // Device status (request 1) and device-status alerts (family 0x5F4):
    // decoded by parseDeviceStatusData. -18 for a null record, nothing sent;
    // a failure leaves the record untouched, and so does a success without
    // data. Status data shorter than its three bytes gives -2, record untouched.
    virtual long bidiQueryDSAAlert(unsigned short alertId, PRINTERSTATUS* status);
    virtual long bidiQueryDeviceStatus(PRINTERSTATUS* status);

    // The alert families. List forms set `*count` 0 and `*list` null, then hand
    // back the alerts of the reply (the caller releases the list with
    // ::operator delete); summary forms clear their own bits of `*alerts` and
    // set them from the reply, and return -18 for a null record without
    // sending anything. A failed request is returned unchanged, with the list
    // empty or the record untouched.
    //
    // Replies are decoded only as far as they go: records are read in order
    // up to the first one that does not lie wholly within the reply (its
    // bytes and, where the record carries them, its extra bytes); that record
    // and all after it are left out, whatever the record count claims, and the
    // result stays 0. The configuration-change list reports a reply shorter
    // than its count and first extra length promise as the single alert 6201.
    virtual long bidiQueryInputStatus(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryInputStatus(PRTALERTS* alerts);
    virtual long bidiQueryOutputStatus(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryOutputStatus(PRTALERTS* alerts);
    virtual long bidiQueryPaperJams(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryPaperJams(PRTALERTS* alerts);
    virtual long bidiQueryOperatorIV(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryOperatorIV(PRTALERTS* alerts, UIRALERTS* interventions);
    virtual long bidiQueryWarnings(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryWarnings(PRTALERTS* alerts);
    virtual long bidiQueryServiceReq(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryServiceReq(PRTALERTS* alerts);
    virtual long bidiQueryConfigChg(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryConfigChg(PRTALERTS* alerts);
    virtual long bidiQuerySupplies(unsigned int* count, KVPALERTDATA** list);
    // Never clears bit 12 (it shares it with the warnings summary): clear it first
    // for the supplies reply alone.
    virtual long bidiQuerySupplies(PRTALERTS* alerts);
    virtual long bidiQuerySuppliesStatus(unsigned int* count, KVPALERTDATA** list);

    // The remote operator panel. The lock is object-model variable 00 4D; a
    // lock read whose value byte is missing gives -2 with `*locked` untouched.
    // Setting the lock presses button 0x40 after a successful write.
    virtual long bidiROPQueryLock(int* locked);
    virtual long bidiROPSetLock(int lock);
    virtual long bidiROPPushButton(unsigned long button);   // sends the low byte only
    // Panel text by request (0x43) or by alert (family 0x5F7, data 0xE1 and the
    // text; other data give -2). `*panel` receives a new OPPANELDATA at once,
    // whatever follows, and the caller deletes it; when it cannot be made,
    // `*panel` is null and the result -18 (as when the padded copy of a short
    // text below cannot be made). A text shorter than width x height
    // is taken as far as it goes: strPanelText then holds the characters that
    // came (as with a zero byte inside the text).
    virtual long bidiROPQueryData(void** panel);
    virtual long bidiROPQueryAlert(unsigned short alertId, void** panel);
    // Reset (0x00 0xB1) and continue (0x00 0xB0), request 0x57: -2 unless the
    // reply's bytes 1 and 2 echo 0x00 and the second request byte.
    virtual long bidiROPReset();
    virtual long bidiROPContinue();
    virtual long bidiSetOMVar(unsigned char* id, void* value, unsigned long length);
    virtual long bidiReadOMVar(unsigned char* id, void** value, unsigned long* length);
    virtual unsigned long bidiReadMultiOMVars(unsigned char* ids, unsigned short count, _MULTIOMVAR** vars,
                                              unsigned short* varCount);
    virtual long bidiReadMiscVar(unsigned char* id, void** value, unsigned long* length, int bForce);

    // Object-model variable event alert (family 0x5FE) into the OMVAREVENTDATA at
    // `event`. -2 for data that do not start 03 40, for an event type other
    // than 9 and 12 (byEventType is stored), and for a type-9 alert shorter than
    // five bytes or a type-12 alert shorter than four (record untouched); -18,
    // record untouched, when the copy of the value cannot be made.
    virtual long bidiQueryOMVarEventAlert(unsigned short alertId, void* event);
    // Reads a job-transition alert (family 0x5FD) into the KVPJOBDATA at `job`.
    // Data that do not begin 03 20, or whose job record is cut short or has job
    // number 0, give -2 (a cut record leaves the job untouched). A null `job`
    // gives -18 and nothing is read.
    virtual long bidiQueryJobTranAlert(unsigned short alertId, void* job);
    // The raw data of a toner alert (family 0x600): on success `data` is a new
    // buffer of `length` bytes that the caller releases with ::operator delete.
    virtual long bidiQueryTonerAlert(unsigned short alertId, unsigned char*& data, unsigned long& length);
    // Reads a job-status alert (family 0x5F6) into `data` (see kvprtobj/jsalert.h).
    virtual long bidiJSQueryAlert(unsigned short alertId, JSALERTDATA& data);
    // Device storage management: each member hands its arguments, unchanged
    // and in order, to the libkvprm function of the same purpose with this
    // object, and returns that function's result unchanged (kvprtobj/kvprm.h
    // gives requests, results and how a host reads a listing).
    virtual long bidiDeviceFileListing(DEVICEID device);                // bidiResMgmtFileListing
    virtual long bidiDeviceFormat(DEVICEID device);                     // bidiResMgmtFormat
    virtual long bidiDeviceDeleteFile(const CString& name, DEVICEID device);   // bidiResMgmtDeleteFile
    virtual long bidiDeviceCopyFile(const CString& name, DEVICEID source, DEVICEID target,
                                    int bReplace);                      // bidiResMgmtCopyFile
    virtual long bidiDeviceQueryAlert(unsigned short alertId, void* alert);   // bidiResMgmtQueryAlert
    // Forwards to parseResMgmtDirectoryData, handing it a copy of `data` of its own.
    virtual long parseDeviceDirectoryData(CString data, DEVICEDIRECTORYDATA* directory);
    virtual void setUserData(unsigned long data);   // kept as 32 bits
    virtual unsigned long getUserData();
    virtual void getVersionNumber(CString directory, CString* version);
    virtual void setNotificationWindow(HWND window);
    virtual void setBidi(int bActive);
    // Request 0x75 for one job or, with job number 0, for all. *jobs receives a
    // new array (delete[]) of as many slots as the reply announces (but no more
    // than the reply could hold jobs: one per 5 bytes, and one), *count the
    // jobs decoded; a job number 0 ends the list. A reply that ends before the
    // jobs it announces, or holds a job record too short for its fields, gives
    // -2 with count 0 and no array. Null output pointers give -18 and nothing
    // is sent.
    virtual long bidiQueryJobs(unsigned short jobNumber, unsigned int* count, KVPJOBDATA** jobs);
    // Request 0x76 (flag 0) or 0x77 (any other flag) without reply.
    virtual long bidiDeleteJob(unsigned short jobNumber, int flag);
    // Request 0x98; *answer receives the reply's first byte (0 without one).
    // A null `answer` gives -18 and nothing is sent.
    virtual long bidiChangeJobPriority(unsigned char priority, unsigned short jobNumber, unsigned char* answer);
    // The logical unit of interpreter 1..5 (request 0x20): 0 and *lu set when
    // found; 1 (interpreter 1 only) when nothing matched but an entry marked
    // FF FF was passed over; -2 when not found. An entry name must end with a 0
    // byte inside the entry, or it matches nothing. An entry that runs past the
    // end of the reply ends the search with -2. *lu is written only on 0.
    virtual long bidiGetInterpreterLU(unsigned char interpreter, unsigned char* lu);
    // The font list (request 0x21, selector1, selector2, 0). *count is set to 0
    // first, then counts the fonts decoded. With F fonts, *fonts receives a new
    // array of F (nothing is allocated when F is 0; no more slots than the
    // reply could hold records, one per 4 bytes, and one), every slot reset
    // before it is decoded; slots after the end marker stay empty. Each description is
    // parsed through parseFontDescription; its non-zero result ends the list
    // and is returned, with the array kept and the failed font counted.
    // A reply too short for its count and header gives -2 with *fonts untouched;
    // a font record running past the end of the reply ends the list with -2,
    // the array kept, that record neither counted nor filled.
    virtual long bidiGetFontDetails(unsigned char selector1, unsigned char selector2, unsigned short* count,
                                    _FONTDETAILS** fonts);
    // Parses one font description of `length` bytes into `details` (not reset
    // first). Items: key, ":" and at least one space, value up to ";", one
    // character skipped, then spaces. The text ends at its first 0 byte or at
    // `length`, whichever comes first; nothing past it is read. Each consumed
    // ":" and ";" is overwritten with 0 in place. Returns 0, or -3 when an item
    // has no ":", no space right after its ":", or no ";" after its value
    // (items before it stay applied); -18 for a null pointer.
    //   "ssid": the leading decimal number n of the value; when a letter
    //   follows it directly, usSymbolSet = n * 32 + the letter's place in the
    //   alphabet (A or a = 1 ... Z or z = 26), the usual text form of a binary
    //   symbol-set id ("10U" is 341); otherwise usSymbolSet = n, the id itself
    //   in decimal. Taken to 16 bits.
    //   "ccid": digit pairs past the end of a value shorter than 16 digits are 0.
    //   Whole numbers read as atol does, saturated to 32 bits ("position" then
    //   taken to 16 bits); "pitch" and "height" as atof does (decimal point
    //   whatever the locale), values beyond 32 bits after the scaling by 100
    //   saturate, a value that is not a number gives 0.
    virtual long parseFontDescription(void* description, unsigned short length, _FONTDETAILS* details);
    // Empties the tag and returns 0 (-18 for a null record); the tag is not read from the printer.
    virtual long bidiGetPropertyTag(PROPERTYTAG* tag);
    virtual long bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                           unsigned long* replyLength, int bAllocate, int bForce);

protected:
    virtual void initToZero();
    virtual long bidiQueryAlert(unsigned short alertId, unsigned long alertFamily, void** data, unsigned long* length,
                                int flag);
    virtual void setPrinterType(unsigned long type);
    virtual int isBidiActive();
    // Summary steps for host code building an INPUTCHARS from INPUTBIN values;
    // no query calls them. They write only the fields of the source they
    // recognise, and nothing for a null `chars`.
    // By name: "Manual Paper", "Manual Envelope", "Tray 1".."Tray 3", "Feeder"
    // (ulFeederBinHigh for size code 80 or more, else ulFeederBinLow) and
    // "Feeder 2", which moves the single feeder into the feeder-1 fields:
    // ulFeeder1BinHigh takes ulFeederBinHigh (the first feeder's bin; 0 when
    // it was recorded in ulFeederBinLow), ulFeeder1Size and ulFeeder1Attr take
    // ulFeederSize and ulFeederAttr, then ulFeederBinHigh and ulFeederBinLow
    // become 0.
    virtual void parseInputCharsByName(int binNumber, int sizeCode, int attr, unsigned long capacity,
                                       const CString& name, INPUTCHARS* chars);
    // By bin number: 1 manual paper, 2 manual envelope, 3 tray 1, 4 tray 2 when
    // binCount >= 5 or capacity is 500 else the feeder, 5 the feeder.
    virtual void parseInputCharsByID(int binNumber, int sizeCode, int attr, unsigned long capacity,
                                     unsigned long binCount, INPUTCHARS* chars);
    // Naming steps of bidiGetInputChars: set *binId for a recognised name or
    // bin number, leave it unchanged otherwise (and for a null binId). Names
    // compare exactly, as texts ending at their first 0 byte.
    virtual void parseInputBinsByName(int sizeCode, const CString& name, unsigned short* binId);
    virtual void parseInputBinsByID(int binNumber, int sizeCode, unsigned long capacity, unsigned long binCount,
                                    unsigned short* binId);


    // Copies the panel dimensions of this object into `panel` and the first
    // width x height bytes at `text` into its text, translated to ISO 8859-1.
    // The caller vouches for width x height bytes at `text`; the library's
    // queries pad a short text with zero bytes.
    virtual void parseROPData(void* text, OPPANELDATA* panel);
    // Replaces bits 0..10 of `*status` from the three bytes at `bytes`.
    virtual void parseDeviceStatusData(unsigned char* bytes, PRINTERSTATUS* status);
    // Decodes device-management alert data: forwards to parseResMgmtAlertData.
    virtual long parseDeviceAlertData(void* data, long length, DEVICEMGMTALERTDATA* alert);
    // Appends the entries of `recordCount` alert records of alert kind `kind`
    // (3 paper jams, 4 operator intervention, 5 warnings, 6 service required,
    // 7 configuration change, 8 supplies, 9 supplies status; any other kind
    // gives none) to the list of `*count` entries. Returns 0. The caller
    // vouches that `recordCount` whole records stand at `records`; the
    // library's queries pass only the records that lie wholly within their reply.
    virtual long parseAlertData(unsigned char* records, unsigned int recordCount, unsigned int kind,
                                KVPALERTDATA** list, unsigned int* count);

    // Naming step of bidiGetOutputChars for named bins: sets *binId for one of
    // the 20 known names, leaves it unchanged otherwise (and for a null binId).
    virtual void parseOutputBinsByName(const CString& name, unsigned short* binId);

    void setBidiRetryCount(int count) { m_nBidiRetryCount = count; }
    // The transport's last step for a request's result `rc`: a channel-down
    // result (-2, -10, -11, -16, -17) clears the bidi-active flag through
    // setBidi and is kept for getBidiFailure; any other result of a forced
    // request sets the flag.
    void moveBidiFlag(long rc, int bForce);

    // Decodes the job record of `length` bytes at `record` into `job`: 1 when
    // taken; 0 for job number 0 (then only jobByte0, jobNumber and the two texts,
    // emptied, are written); -1 when the record ends before a field it must hold
    // (job untouched). A short record (bShortRecord non-zero) ends after byte 20;
    // a full one holds bytes 21-40 and the two counted job-information texts.
    int ParseJobData(KVPJOBDATA* job, unsigned char* record, int bShortRecord);
    // The same, reading no more than the `length` bytes at `record`. The form
    // above reads no more than a full record can hold (kMaxJobRecord).
    int ParseJobData(KVPJOBDATA* job, const unsigned char* record, unsigned long length, int bShortRecord);
    // The longest job record: bytes 0-40 and two counted texts.
    static constexpr unsigned long kMaxJobRecord = 41 + 1 + 255 + 1 + 255;

    std::mutex m_csBidi;                 // guards m_caps.bBidiActive, one access at a time
    short m_sBceAppId = 0;
    unsigned short m_usBceHandle = 0;
    int m_nPanelWidth = 0;
    int m_nPanelHeight = 0;
    CString m_strAux1;                   // kept and copied only
    BIDICAPABILITIES m_caps;
    int m_bCapsValid = 0;
    int m_nObjType = 0;
    uint32_t m_dwPrinterType = 0xFFFFFFFF;
    uint32_t m_dwPrinterSubtype = 0xFFFFFFFF;
    uint32_t m_dwUserData = 0;
    int m_nBidiRetryCount = 0;
    mutable uint32_t m_uBidiQueryNetType = 0;
    int m_nAux3 = 0;                     // kept and copied only
    PSFTYPES m_ePsfType = PSF_NONE;
    int m_nAux4 = 0;                     // kept and copied only
    CString m_strPsfHeader;
    CString m_strCodeLevel;              // code level kept from the last device-characteristics query
    HWND m_hNotifyWnd = nullptr;

private:
    std::atomic<long> m_lBidiFailure{0};   // see getBidiFailure

    // The list form of the alert families that parseAlertData decodes.
    KVPO_LOCAL long queryAlertList(unsigned short requestCode, unsigned int kind, unsigned int* count,
                                   KVPALERTDATA** list);
    // What the two handle constructors do, the printer type set when given.
    KVPO_LOCAL void initHandle(unsigned short handle, int initialize, const unsigned long* printerType);
    // One engine send of bidiQuery, with the reply buffer of the current attempt.
    long sendOnce(unsigned short requestCode, void* requestData, unsigned long requestLength, void* buffer,
                  unsigned long* length);

    // The device-management library (kvprtobj/kvprm.h) reads its alerts as the
    // alert families of this class do: through the virtual alert read and the
    // virtual decoding step parseDeviceAlertData.
    friend long bidiResMgmtQueryAlert(KVPrtObj& printer, unsigned short alertId, void* alert);
    // Every alert read of the library goes through this one helper.
    friend kvpo::Asked kvpo::readAlert(KVPrtObj& printer, unsigned short alertId, unsigned long family);
};

extern "C" {
// Registers one more framework record of this library in the caller's module list.
KVPO_API void InitKVPrtObjDll();

// Creates a checked printer object (see the discovery sources): null for a
// printer type other than 0, 1 and 0xFFFFFFFF, and, in a partner-only
// installation, for a printer reachable neither through a local port nor over
// network types 0x01, 0x02 or 0x10. The caller deletes the object.
KVPO_API KVPrtObj* CreatePrinterObject(unsigned short handle, short appId, unsigned long printerType);
}

// The first 6 bytes at `address` as 12 upper-case hexadecimal digits.
KVPO_API void parseAdapterAddress(unsigned char* address, CString* text);

// Translates the first `count` characters of `*text` (at most its length) from
// code page 850 to ISO 8859-1 in place; characters ISO 8859-1 lacks become 0x80.
// The text then ends at its first zero byte.
KVPO_API void TranslateOpPanelData(CString* text, int count);
