// Paper trays and output bins from IPP: PWG's printer-input-tray
// ("type=sheetFeedAutoRemovableTray;mediafeed=0;mediaxfeed=0;maxcapacity=250;
// level=100;status=0;name=main;") with the media of media-col-ready, and
// printer-output-tray ("type=unRemovableBin;maxcapacity=250;remaining=-3;
// status=0;name=face-down;"). Filled as input and output status (requests 2
// and 3) and characteristics (0x12 and 0x13).
//
// Input bins are numbered as the library expects: 1 manual paper, 2 manual
// envelope (the manual feeds first, in the printer's order), then 3 for the
// first other tray, 4 for the next, and so on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "attributes.h"
#include "snapshot.h"

namespace kvnet::ipp {

// Input status state (bits 0-2) and flag.
enum InputState : uint8_t { kInputEmpty = 0, kInputLow = 1, kInputHasMedia = 2, kInputUnknown = 3, kInputUnavailable = 4 };
constexpr uint8_t kInputNeedsAttention = 0x08;
// Output status state.
enum OutputState : uint8_t { kOutputHasRoom = 0, kOutputUnknown = 3, kOutputNearlyFull = 6, kOutputFull = 7 };

struct InputTray {
    uint8_t bin = 0;
    uint8_t state = kInputUnknown;
    bool needsAttention = false;
    uint8_t type = 0;       // PrtInputTypeTC (3 removable tray, 4 fixed tray, 5 manual, ...); 0 unknown
    uint32_t capacity = 0;
    std::string name;       // ISO 8859-1
    std::string media;      // the loaded medium's label ("LETTER"), ISO 8859-1
    uint8_t sizeCode = 0;   // its PCL size code; 0 unknown
};

struct OutputTray {
    uint8_t bin = 0;
    uint8_t state = kOutputUnknown;
    bool integral = false;    // an unremovable bin
    bool faceUp = false;
    bool removable = false;   // a removable bin or a mailbox
    uint32_t capacity = 0;
    std::string name;         // ISO 8859-1
};

struct Trays {
    std::vector<InputTray> inputs;
    std::vector<OutputTray> outputs;
};

Trays readTrays(const Attributes& printer, Snapshot* snapshot);
// Status and characteristics of inputs and outputs, each unless the snapshot holds them already.
void fillTrays(const Trays& trays, Snapshot* snapshot);

}  // namespace kvnet::ipp
