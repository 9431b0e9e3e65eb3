#include "texts.h"

#include <map>
#include <string>

namespace kvprt {
namespace {

// In a text, {n} stands for the alert's qualifier, {hi} and {lo} for its
// high and low byte (where the qualifier packs two numbers).
const std::map<unsigned, const char*> kAlertTexts = {
    {6102, "Printer needs attention: intervention required"},
    {6103, "Duplex unit needs attention"},
    {6104, "Paper jam at an input source"},
    {6105, "Paper jam inside the printer"},
    {6106, "Paper jam at an output bin"},
    {6107, "Paper jam in the duplex unit"},
    {6108, "Paper jam"},
    {6113, "Input source {n} is empty"},
    {6114, "Output bin {n} is full"},
    {6115, "Service required: call for service"},
    {6117, "Input source {n} needs attention"},
    {6118, "Operator intervention required"},
    {6119, "Close the rear door"},
    {6120, "Close the duplex cover"},
    {6121, "Tray 2 is missing or open"},
    {6122, "Tray 3 is missing or open"},
    {6123, "Duplex unit is missing"},
    {6124, "Close the top cover"},
    {6125, "Close the finisher door"},
    {6126, "Close the output option door"},
    {6127, "Tray 1 is missing or open"},
    {6128, "Duplex tray is missing"},
    {6129, "Close the side door"},
    {6130, "Close the front door"},
    {6131, "Close the upper door"},
    {6132, "Close the lower door"},
    {6133, "Manual envelope feed needs paper"},
    {6134, "Close the printer cover"},
    {6135, "Remove the paper from the standard bin"},
    {6136, "Close the feeder door"},
    {6137, "Manual feed needs paper"},
    {6138, "Close the stacker door"},
    {6139, "Close the paper path cover"},
    {6140, "Memory is full"},
    {6141, "Complex page: the page is too complex to print"},
    {6164, "Envelope feeder is missing"},
    {6166, "Toner cartridge is missing"},
    {6167, "Toner cartridge is defective"},
    {6168, "Replace the photoconductor"},
    {6169, "Replace the fuser"},
    {6171, "Duplex unit: reinsert the duplex tray"},
    {6172, "Duplex unit: paper size is not supported"},
    {6173, "Duplex unit: close the duplex door"},
    {6174, "Toner is empty"},
    {6175, "Change the paper in the manual feed"},
    {6176, "Change the paper in the input source"},
    {6177, "Load the requested paper size"},
    {6178, "Load the requested paper type"},
    {6182, "Paper jam at the paper path entrance"},
    {6183, "Paper jam at the fuser"},
    {6184, "Paper jam below the toner cartridge"},
    {6188, "Paper jam at the toner cartridge"},
    {6190, "Paper misfeed at an input source"},
    {6191, "Printer memory was changed"},
    {6192, "Printer memory was removed"},
    {6193, "Input source {n} was installed"},
    {6194, "Disk was installed"},
    {6195, "Disk was removed"},
    {6196, "Flash memory was installed"},
    {6197, "Flash memory was removed"},
    {6198, "Input option was installed"},
    {6199, "Input option was removed"},
    {6200, "Duplex unit was changed"},
    {6201, "Printer configuration changed"},
    {6202, "Input source {n} was changed"},
    {6203, "Input source {n} is low"},
    {6204, "Output bin {n} is nearly full"},
    {6208, "Printer warning"},
    {6209, "Input source {hi}: {state}"},
    {6219, "Close the envelope feeder cover"},
    {6220, "Supply {n} is nearly exhausted"},
    {6221, "Supply {n} is low"},
    {6222, "Supply {n} needs replacing soon"},
    {6223, "Toner {n} is low"},
    {6224, "Supply {hi}: {level}"},
    {6226, "Toner is nearly empty"},
    {6227, "Supply {n} is empty"},
    {6228, "Tray 3 needs paper"},
    {6229, "Finisher needs attention"},
    {6230, "Finisher is not ready"},
    {6231, "Tray 4 is missing or open"},
    {6232, "Close the high-capacity feeder door"},
    {6233, "Output option {n} needs attention soon"},
    {6234, "Staples in finisher {n} are low"},
    {6235, "Finisher {n} is out of staples"},
    {6236, "Paper jam in finisher area 1"},
    {6237, "Paper jam in finisher area 2"},
    {6238, "Paper jam in finisher area 3"},
    {6239, "Paper jam in finisher area 4"},
    {6240, "Load paper in input source {n}"},
    {6241, "Empty output bin {n}"},
    {6242, "Paper jam at the manual paper feed"},
    {6243, "Paper jam at the manual envelope feed"},
    {6244, "Paper jam at tray 1"},
    {6245, "Paper jam at tray 2"},
    {6246, "Paper jam at tray 3"},
    {6247, "Paper jam at output bin 1"},
    {6248, "Paper jam at output bin 2"},
    {6249, "Paper jam at output bin 3"},
    {6250, "Duplex unit: remove the paper"},
    {6251, "Waste toner bottle is full"},
    {6252, "Input source {n} is missing"},
    {6253, "Input source {n} is nearly empty"},
    {6254, "Printer is busy: wait"},
    {6255, "Printer is resetting"},
    {6256, "Close the staple access door"},
    {6257, "Close the transfer unit door"},
};

// Input-bin ids 7101 to 7112, in order.
const char* const kInputBins[] = {
    "Manual paper feed", "Manual envelope feed", "Tray 1", "Tray 2", "Tray 3", "Feeder (large sizes)",
    "Feeder", "First feeder", "Second feeder", "Multipurpose feeder", "Tray 4", "Tray 5",
};

// Output-bin ids 7201 to 7224, in order (7202 is given to no bin).
const char* const kOutputBins[] = {
    "Output option bin", "Output bin", "Face-up output bin", "Output option", "Standard bin",
    "Output stacker bin 1", "Output stacker bin 2", "Output stacker bin 3", "High-capacity output stacker",
    "Finisher bin 1", "Finisher bin 2", "Finisher bin 3", "Finisher bin 4", "Finisher bin 5",
    "Finisher bin 6", "Finisher bin 7", "Finisher bin 8", "Finisher bin 9", "Finisher bin 10",
    "Finisher bin 11", "Finisher bin 12", "Finisher bin 13", "Finisher bin 14", "Finisher bin 15",
};

// Component codes 7701 to 7710, in order.
const char* const kComponents[] = {
    "Base code level", "Engine", "Engine board B", "Engine board F", "Operator panel",
    "Duplex unit", "Network adapter", "Controller", "Flash code", "Slot option",
};

// The states of an input source's status record (docs/realprinters.md). A
// present source in state 0 is reported as empty (6113); state 0 here is a
// source that is not there.
const char* const kInputStates[] = {"not installed", "paper is low", "has paper", "paper level unknown",
                                    "unavailable",   "offline",      "busy",      "state 7"};

constexpr unsigned kNoInstance = 0xFF;

// A supplies-status value: percent left, or the two levels that are no measurement.
constexpr unsigned kSomeRemaining = 254, kLevelUnknown = 255, kFullPercent = 100;

std::string supplyLevel(unsigned value) {
    if (value == kSomeRemaining) return "some remaining";
    if (value == kLevelUnknown) return "level unknown";
    if (value <= kFullPercent) return std::to_string(value) + " % left";
    return "level " + std::to_string(value);
}

template <size_t N>
const char* lookup(const char* const (&table)[N], unsigned first, unsigned id) {
    return id >= first && id - first < N ? table[id - first] : nullptr;
}

std::string replaceAll(std::string text, const std::string& key, unsigned value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), std::to_string(value));
    return text;
}

}  // namespace

bool knownAlert(unsigned id) { return kAlertTexts.count(id) != 0; }

std::string alertText(unsigned id, unsigned value) {
    auto it = kAlertTexts.find(id);
    if (it == kAlertTexts.end()) return "Printer alert " + std::to_string(id) + " (qualifier " + std::to_string(value) + ")";
    std::string text = it->second;
    // Instance 0xFF concerns no item in particular: "Toner is low".
    if (value == kNoInstance)
        for (size_t at; (at = text.find(" {n}")) != std::string::npos;) text.erase(at, 4);
    text = replaceAll(text, "{n}", value);
    text = replaceAll(text, "{hi}", value >> 8);
    text = replaceAll(text, "{lo}", value & 0xFF);
    if (size_t at = text.find("{state}"); at != std::string::npos) text.replace(at, 7, kInputStates[value & 7]);
    if (size_t at = text.find("{level}"); at != std::string::npos) text.replace(at, 7, supplyLevel(value & 0xFF));
    return text;
}

std::string inputBinText(unsigned id) {
    const char* text = lookup(kInputBins, 7101, id);
    return text ? text : "Input bin";
}

std::string outputBinText(unsigned id) {
    const char* text = lookup(kOutputBins, 7201, id);
    return text ? text : "Output bin";
}

std::string componentText(unsigned code) {
    const char* text = lookup(kComponents, 7701, code);
    return text ? text : "Component";
}

}  // namespace kvprt
