#include "trays.h"

#include <algorithm>
#include <map>

namespace kvnet::ipp {
namespace {

constexpr size_t kMaxName = 255;   // counted texts of the replies
constexpr int kMaxBin = 255;

// The library's input bin numbers.
constexpr uint8_t kBinManualPaper = 1, kBinManualEnvelope = 2, kBinFirstTray = 3;

// PrtSubUnitStatusTC (RFC 3805): availability in bits 0-2, alert flags.
constexpr int32_t kAvailabilityMask = 0x07;
constexpr int32_t kUnavailableOnRequest = 1, kUnavailableBroken = 3;
constexpr int32_t kNonCriticalAlerts = 0x08, kCriticalAlerts = 0x10;

// Levels of RFC 3805.
constexpr int32_t kLevelSome = -3;
constexpr int32_t kNotReported = -2;
// A tray is low, a bin nearly full, at or below this percent of its capacity.
constexpr int64_t kNearPercent = 10;

// PrtInputTypeTC by its name, folded.
struct InputType {
    const char* name;
    uint8_t value;
};
constexpr InputType kInputTypes[] = {
    {"other", 1}, {"unknown", 2}, {"sheetfeedautoremovabletray", 3}, {"sheetfeedautononremovabletray", 4},
    {"sheetfeedmanual", 5}, {"continuousroll", 6}, {"continuousfanfold", 7},
};
constexpr uint8_t kTypeManual = 5;

// Loaded media: the PWG size name's class and name part ("na_letter" of
// "na_letter_8.5x11in") -> the label and the PCL page-size code the library
// shows. Other sizes keep their PWG name and code 0.
struct MediaSize {
    const char* pwg;
    const char* label;
    uint8_t sizeCode;
};
constexpr MediaSize kMediaSizes[] = {
    {"na_executive", "EXECUTIVE", 1}, {"na_letter", "LETTER", 2},     {"na_legal", "LEGAL", 3},
    {"na_ledger", "LEDGER", 6},       {"iso_a5", "A5", 25},           {"iso_a4", "A4", 26},
    {"iso_a3", "A3", 27},             {"jis_b4", "B4", 45},           {"jis_b5", "B5", 46},
    {"na_monarch", "MONARCH", 80},    {"na_number-10", "COM10", 81},  {"iso_dl", "DL", 90},
    {"iso_c5", "C5", 91},             {"iso_b5", "B5 ENV", 100},
};

// The pseudo-tray some printers list for automatic selection; not a tray.
constexpr char kAutoSource[] = "auto";

uint32_t capacityOf(int32_t max) { return max > 0 ? static_cast<uint32_t>(max) : 0; }

uint8_t inputState(int32_t status, int32_t level, int32_t max) {
    const int32_t availability = status & kAvailabilityMask;
    if (availability == kUnavailableOnRequest || availability == kUnavailableBroken) return kInputUnavailable;
    if (level == 0) return kInputEmpty;
    if (level == kLevelSome) return kInputHasMedia;
    if (level < 0) return kInputUnknown;
    if (max > 0 && int64_t{level} * 100 <= int64_t{max} * kNearPercent) return kInputLow;
    return kInputHasMedia;
}

uint8_t outputState(int32_t remaining, int32_t max) {
    if (remaining == 0) return kOutputFull;
    if (remaining == kLevelSome) return kOutputHasRoom;
    if (remaining < 0) return kOutputUnknown;
    if (max > 0 && int64_t{remaining} * 100 <= int64_t{max} * kNearPercent) return kOutputNearlyFull;
    return kOutputHasRoom;
}

// The media size name of each source, from media-col-ready
// ("media-source=main;media-size-name=na_letter_8.5x11in;...").
std::map<std::string, std::string> readyMedia(const Attributes& printer) {
    std::map<std::string, std::string> media;
    for (const std::string& entry : textsOf(printer, "media-col-ready")) {
        Members m = membersOf(entry);
        media.emplace(memberText(m, "media-source"), memberText(m, "media-size-name"));
    }
    return media;
}

void describeMedia(const std::string& pwg, InputTray* tray) {
    const std::string prefix = pwg.substr(0, pwg.find('_', pwg.find('_') + 1));
    for (const MediaSize& size : kMediaSizes) {
        if (prefix != size.pwg) continue;
        tray->media = size.label;
        tray->sizeCode = size.sizeCode;
        return;
    }
    tray->media = latin1Line(pwg, kMaxName);
}

std::vector<InputTray> readInputs(const Attributes& printer, Snapshot* snapshot) {
    std::vector<InputTray> trays;
    std::vector<std::string> sources;
    for (const std::string& text : textsOf(printer, "printer-input-tray")) {
        Members m = membersOf(text);
        const std::string name = memberText(m, "name");
        if (name == kAutoSource) continue;
        InputTray t;
        const std::string type = foldKeyword(memberText(m, "type"));
        for (const InputType& known : kInputTypes)
            if (type == known.name) t.type = known.value;
        const int32_t status = memberNumber(m, "status").value_or(0);
        const int32_t max = memberNumber(m, "maxcapacity").value_or(kNotReported);
        t.state = inputState(status, memberNumber(m, "level").value_or(kNotReported), max);
        t.needsAttention = (status & (kNonCriticalAlerts | kCriticalAlerts)) != 0;
        t.capacity = capacityOf(max);
        t.name = latin1Line(name, kMaxName);
        trays.push_back(std::move(t));
        sources.push_back(name);
    }
    const auto ready = readyMedia(printer);
    const auto readyKeywords = textsOf(printer, "media-ready");
    for (size_t i = 0; i < trays.size(); ++i) {
        auto it = ready.find(sources[i]);
        std::string media = it != ready.end() ? it->second : "";
        // One tray and one medium ready: that tray holds it.
        if (media.empty() && trays.size() == 1 && readyKeywords.size() == 1) media = readyKeywords.front();
        if (!media.empty()) describeMedia(media, &trays[i]);
    }

    // Manual feeds take 1 and 2, in order; the other trays 3, 4, ...
    bool taken[kBinFirstTray] = {};
    for (InputTray& t : trays) {
        if (t.type != kTypeManual) continue;
        for (uint8_t bin : {kBinManualPaper, kBinManualEnvelope}) {
            if (taken[bin]) continue;
            taken[bin] = true;
            t.bin = bin;
            break;
        }
    }
    int next = kBinFirstTray;
    for (InputTray& t : trays)
        if (t.bin == 0 && next <= kMaxBin) t.bin = static_cast<uint8_t>(next++);
    const size_t before = trays.size();
    std::erase_if(trays, [](const InputTray& t) { return t.bin == 0; });
    if (trays.size() != before) snapshot->note("printer-input-tray cut at 255 bins");
    std::sort(trays.begin(), trays.end(), [](const InputTray& a, const InputTray& b) { return a.bin < b.bin; });
    return trays;
}

std::vector<OutputTray> readOutputs(const Attributes& printer, Snapshot* snapshot) {
    std::vector<OutputTray> trays;
    for (const std::string& text : textsOf(printer, "printer-output-tray")) {
        if (trays.size() == kMaxBin) {
            snapshot->note("printer-output-tray cut at 255 bins");
            break;
        }
        Members m = membersOf(text);
        OutputTray t;
        t.bin = static_cast<uint8_t>(trays.size() + 1);
        const std::string type = foldKeyword(memberText(m, "type"));
        t.integral = type == "unremovablebin";
        t.removable = type == "removablebin" || type == "mailbox";
        t.faceUp = foldKeyword(memberText(m, "pagedelivery")).rfind("faceup", 0) == 0;
        const int32_t max = memberNumber(m, "maxcapacity").value_or(kNotReported);
        t.state = outputState(memberNumber(m, "remaining").value_or(kNotReported), max);
        t.capacity = capacityOf(max);
        t.name = latin1Line(memberText(m, "name"), kMaxName);
        trays.push_back(std::move(t));
    }
    return trays;
}

// Output bin characteristics: byte 1 integral (1) or option (2); byte 6 bit
// 0 face-up delivery, bit 5 removable or mailbox.
constexpr uint8_t kIntegralBin = 1, kOptionBin = 2;
constexpr uint8_t kFaceUp = 0x01, kRemovable = 0x20;
constexpr uint8_t kPresent = 1;

}  // namespace

Trays readTrays(const Attributes& printer, Snapshot* snapshot) {
    return {readInputs(printer, snapshot), readOutputs(printer, snapshot)};
}

void fillTrays(const Trays& trays, Snapshot* snapshot) {
    kvsim::Profile& p = snapshot->profile;
    if (!trays.inputs.empty() && !snapshot->answers(kvbidi::kInputStatus)) {
        for (const InputTray& t : trays.inputs)
            p.inputStatus.push_back(
                {t.bin, kPresent, static_cast<uint8_t>(t.state | (t.needsAttention ? kInputNeedsAttention : 0))});
        snapshot->answer(kvbidi::kInputStatus);
    }
    if (!trays.inputs.empty() && !snapshot->answers(kvbidi::kInputChars)) {
        for (const InputTray& t : trays.inputs) p.inputBins.push_back({t.bin, t.capacity, t.type, t.sizeCode, t.name, t.media});
        snapshot->answer(kvbidi::kInputChars);
    }
    if (!trays.outputs.empty() && !snapshot->answers(kvbidi::kOutputStatus)) {
        for (const OutputTray& t : trays.outputs) p.outputStatus.push_back({t.bin, kPresent, t.state});
        snapshot->answer(kvbidi::kOutputStatus);
    }
    if (!trays.outputs.empty() && !snapshot->answers(kvbidi::kOutputChars)) {
        for (const OutputTray& t : trays.outputs) {
            const uint8_t delivery = static_cast<uint8_t>((t.faceUp ? kFaceUp : 0) | (t.removable ? kRemovable : 0));
            p.outputBins.push_back({t.bin, t.integral ? kIntegralBin : kOptionBin, t.capacity, delivery, 0, t.name});
        }
        snapshot->answer(kvbidi::kOutputChars);
    }
}

}  // namespace kvnet::ipp
