// Records of device characteristics (devchars/), in namespace kvrec;
// KVPrtObj re-exports each as its own nested name (KVPrtObj::INPUTBIN).
//
// The queries of the printer's bins, storage, interpreters, fonts and
// symbol sets (KVPrtObj::bidiGetInputChars and its neighbours) share these rules:
// - A null pointer argument gives -18; nothing is sent and nothing written.
// - A reply too short for what it claims (a count, a record, a counted text
//   running past its end) gives -2. Lists then return nothing: count and
//   array stay untouched and there is nothing to free (bidiGetFontDetails
//   excepted, see devchars/fonts.cpp). Bytes after the last record are ignored.
// - When an array cannot be allocated the result is -18, the array pointer
//   is set to null and the count holds the count the reply gave; no record
//   is decoded.
// - Arrays are made with new[] and released by the caller with delete[].
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"

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

namespace kvrec {

// The device characteristics of bidiGetDeviceChars. The printer gives the
// meaning of the three bytes and of texts 1 and 3; the library carries them.
struct KVPO_API DEVICECHARS {
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
struct KVPO_API INPUTBIN {
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
struct KVPO_API INPUTCHARS {
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
struct KVPO_API OUTPUTBIN {
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
struct KVPO_API STORAGEOPTIONS {
    uint32_t ulFontCartridge = 0;   // 1 when a font-cartridge entry is present
    CString strCartridgeField4;     // cartridge field 4 from index 11; empty when it begins with "-1"
    CString strCartridgeField2;     // cartridge field 2 from index 9
    int32_t lFlashField2 = 0;       // flash field 2, number from index 7
    int32_t lFlashField3 = 0;       // flash field 3, number from index 12; -1 becomes 0
    int32_t lDiskField2 = 0;        // disk field 2, number from index 7
    int32_t lDiskField3 = 0;        // disk field 3, number from index 12; -1 becomes 0
};

}  // namespace kvrec
