#include "encoders.h"

#include <cstring>

#include "kvprtobj/bidicodes.h"
#include "records.h"

namespace kvsim {
namespace {

// The read requests, with the operation of the library that sends each.
struct ReadEntry {
    uint16_t code;
    const char* operation;
    Reply (*encode)(const Profile&, const Request&);
};

constexpr ReadEntry kReads[] = {
    {kvbidi::kDeviceStatus, "bidiQueryDeviceStatus", &encode::deviceStatus},
    {kvbidi::kInputStatus, "bidiQueryInputStatus", &encode::inputStatus},
    {kvbidi::kOutputStatus, "bidiQueryOutputStatus", &encode::outputStatus},
    {kvbidi::kPaperJams, "bidiQueryPaperJams", &encode::alertRun},
    {kvbidi::kOperatorIV, "bidiQueryOperatorIV", &encode::alertRun},
    {kvbidi::kWarnings, "bidiQueryWarnings", &encode::alertRun},
    {kvbidi::kServiceReq, "bidiQueryServiceReq", &encode::alertRun},
    {kvbidi::kConfigChg, "bidiQueryConfigChg", &encode::alertRun},
    {kvbidi::kSupplies, "bidiQuerySupplies", &encode::alertRun},
    {kvbidi::kPageCounts, "bidiGetPageCounts", &encode::pageCounts},
    {kvbidi::kSuppliesStatus, "bidiQuerySuppliesStatus", &encode::suppliesStatus},
    {kvbidi::kDeviceChars, "bidiGetDeviceChars", &encode::deviceChars},
    {kvbidi::kInputChars, "bidiGetInputChars", &encode::inputBins},
    {kvbidi::kOutputChars, "bidiGetOutputChars", &encode::outputBins},
    {kvbidi::kStorageOptions, "bidiGetStorageOptions", &encode::storageOptions},
    {kvbidi::kInterpreters, "bidiGetInterpreterLU", &encode::interpreters},
    {kvbidi::kFontDetails, "bidiGetFontDetails", &encode::fontList},
    {kvbidi::kLoopBack, "bidiLoopBack", &encode::loopBack},
    {kvbidi::kPanelText, "bidiROPQueryData", &encode::panelText},
    {kvbidi::kReadOMVar, "bidiReadOMVar", &encode::readVariable},
    {kvbidi::kReadMiscVar, "bidiReadMiscVar", &encode::readMiscVariable},
    {kvbidi::kQueryJobs, "bidiQueryJobs", &encode::queryJobs},
    {kvbidi::kOutputBinNicknames, "bidiGetOutputBinNicknames", &encode::customNames},
    {kvbidi::kFormNames, "bidiGetFormNames", &encode::customNames},
    {kvbidi::kReadMultiOMVars, "bidiReadMultiOMVars", &encode::readVariables},
    {kvbidi::kSymbolSets, "bidiGetSymbolSetList", &encode::symbolSets},
    {kvbidi::kCurrentFont, "bidiGetCurrentFontInformation", &encode::currentFont},
    {kvbidi::kTonerInfo, "bidiQueryTonerInfo", &encode::tonerInfo},
    {kvbidi::kAvailablePorts, "bidiGetAvailablePorts", &encode::availablePorts},
};

const ReadEntry* find(uint16_t code) {
    for (const ReadEntry& entry : kReads)
        if (entry.code == code) return &entry;
    return nullptr;
}

}  // namespace

std::optional<Reply> encodeRead(const Profile& state, const Request& request) {
    const ReadEntry* entry = find(request.code);
    if (entry == nullptr) return std::nullopt;
    return entry->encode(state, request);
}

bool isRead(uint16_t code) { return find(code) != nullptr; }

long deliverReply(uint16_t code, const Reply& answer, void* reply, unsigned long* replyLength) {
    if (answer.rc != BCE_OK) return answer.rc;
    unsigned long capacity = *replyLength;
    if (capacity == 0) return BCE_OK;
    unsigned long size = answer.body.size() + 1;
    if (size > capacity) {
        *replyLength = size;
        return BCE_E_NO_MEMORY;
    }
    auto* out = static_cast<uint8_t*>(reply);
    out[0] = static_cast<uint8_t>(code & 0xFF);
    if (!answer.body.empty()) std::memcpy(out + 1, answer.body.data(), answer.body.size());
    *replyLength = size;
    return BCE_OK;
}

const Bytes* findVariable(const Profile& state, uint16_t id) {
    for (const Variable& v : state.variables)
        if (v.id == id) return &v.value;
    return nullptr;
}

std::string panelDisplay(const Profile& state) {
    const Panel& panel = state.panel;
    const Bytes* lock = findVariable(state, kVarPanelLock);
    bool locked = lock && !lock->empty() && (*lock)[0] != 0;
    return panelDisplay(locked && !panel.lockedText.empty() ? panel.lockedText : panel.text, panel.width,
                        panel.height);
}

}  // namespace kvsim
