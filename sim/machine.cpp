#include "machine.h"

#include "kvprtobj/bidicodes.h"

#include "records.h"

namespace kvsim {
namespace {

// The request codes the printer answers, with the operation of the library
// that sends each.
struct RequestEntry {
    uint16_t code;
    const char* operation;
    Reply (Machine::*handle)(const Request&);
};

constexpr RequestEntry kRequests[] = {
    {kvbidi::kDeviceStatus, "bidiQueryDeviceStatus", &Machine::deviceStatus},
    {kvbidi::kInputStatus, "bidiQueryInputStatus", &Machine::inputStatus},
    {kvbidi::kOutputStatus, "bidiQueryOutputStatus", &Machine::outputStatus},
    {kvbidi::kPaperJams, "bidiQueryPaperJams", &Machine::alertRun},
    {kvbidi::kOperatorIV, "bidiQueryOperatorIV", &Machine::alertRun},
    {kvbidi::kWarnings, "bidiQueryWarnings", &Machine::alertRun},
    {kvbidi::kServiceReq, "bidiQueryServiceReq", &Machine::alertRun},
    {kvbidi::kConfigChg, "bidiQueryConfigChg", &Machine::alertRun},
    {kvbidi::kSupplies, "bidiQuerySupplies", &Machine::alertRun},
    {kvbidi::kPageCounts, "bidiGetPageCounts", &Machine::pageCounts},
    {kvbidi::kSuppliesStatus, "bidiQuerySuppliesStatus", &Machine::suppliesStatus},
    {kvbidi::kDeviceChars, "bidiGetDeviceChars", &Machine::deviceChars},
    {kvbidi::kInputChars, "bidiGetInputChars", &Machine::inputBins},
    {kvbidi::kOutputChars, "bidiGetOutputChars", &Machine::outputBins},
    {kvbidi::kStorageOptions, "bidiGetStorageOptions", &Machine::storageOptions},
    {kvbidi::kInterpreters, "bidiGetInterpreterLU", &Machine::interpreters},
    {kvbidi::kFontDetails, "bidiGetFontDetails", &Machine::fontList},
    {kvbidi::kPowerOnReset, "bidiPORPrinter", &Machine::powerOnReset},
    {kvbidi::kLoopBack, "bidiLoopBack", &Machine::loopBack},
    {kvbidi::kResetHostPageCount, "bidiResetHostPageCount", &Machine::resetHostPageCount},
    {kvbidi::kPushButton, "bidiROPPushButton", &Machine::pushButton},
    {kvbidi::kPanelText, "bidiROPQueryData", &Machine::panelText},
    {kvbidi::kReadOMVar, "bidiReadOMVar", &Machine::readVariable},
    {kvbidi::kSetOMVar, "bidiSetOMVar", &Machine::setVariable},
    {kvbidi::kReadMiscVar, "bidiReadMiscVar", &Machine::readMiscVariable},
    {kvbidi::kResetContinue, "bidiROPReset, bidiROPContinue", &Machine::resetOrContinue},
    {kvbidi::kResetNVRAM, "bidiResetNVRAM", &Machine::resetNvram},
    {kvbidi::kQueryJobs, "bidiQueryJobs", &Machine::queryJobs},
    {kvbidi::kDeleteJob, "bidiDeleteJob", &Machine::deleteJob},
    {kvbidi::kDeleteJobFlagged, "bidiDeleteJob", &Machine::deleteJob},
    {kvbidi::kRemoteOnOffline, "SendRemoteOffline, SendRemoteOnline", &Machine::remoteOnOffline},
    {kvbidi::kOutputBinNicknames, "bidiGetOutputBinNicknames", &Machine::customNames},
    {kvbidi::kFormNames, "bidiGetFormNames", &Machine::customNames},
    {kvbidi::kSetFormName, "bidiSetFormName", &Machine::setCustomName},
    {kvbidi::kSetOutputBinNickname, "bidiSetOutputBinNickname", &Machine::setCustomName},
    {kvbidi::kReadMultiOMVars, "bidiReadMultiOMVars", &Machine::readVariables},
    {kvbidi::kSymbolSets, "bidiGetSymbolSetList", &Machine::symbolSets},
    {kvbidi::kCurrentFont, "bidiGetCurrentFontInformation", &Machine::currentFont},
    {kvbidi::kSetCurrentFont, "bidiSetCurrentFontInformation", &Machine::setCurrentFont},
    {kvbidi::kChangeJobPriority, "bidiChangeJobPriority", &Machine::changeJobPriority},
    {kvbidi::kTonerInfo, "bidiQueryTonerInfo", &Machine::tonerInfo},
    {kvbidi::kAvailablePorts, "bidiGetAvailablePorts", &Machine::availablePorts},
    {kvbidi::kStorageListFiles, "bidiDeviceFileListing", &Machine::listFiles},
    {kvbidi::kStorageFormat, "bidiDeviceFormat", &Machine::formatDevice},
    {kvbidi::kStorageDeleteFile, "bidiDeviceDeleteFile", &Machine::deleteFile},
    {kvbidi::kStorageCopyFile, "bidiDeviceCopyFile", &Machine::copyFile},
    {kvbidi::kStorageReadDirectory, "bidiDeviceQueryAlert (listing)", &Machine::readDirectory},
};

}  // namespace

Machine::Machine(const Profile& profile)
    : m_profile(profile),
      m_deviceStatus(profile.deviceStatus),
      m_alertRuns(profile.alertRuns),
      m_pageCounts(profile.pageCounts),
      m_jobs(profile.jobs),
      m_formNames(profile.formNames),
      m_binNicknames(profile.binNicknames),
      m_panelLines(profile.panel.text),
      m_currentFont(profile.currentFont),
      m_toner(profile.toner),
      m_storage(profile.storageDevices) {
    for (const Variable& v : profile.variables) m_variables[v.id] = v.value;
    for (const Variable& v : profile.miscVariables) m_misc[v.id] = v.value;
}

Reply Machine::handle(const Request& request) {
    for (const RequestEntry& entry : kRequests)
        if (entry.code == request.code) return (this->*entry.handle)(request);
    return {BCE_E_INVALID, {}};
}

std::vector<RaisedAlert> Machine::takeRaised() { return std::move(m_raised); }

bool Machine::panelLocked() const {
    auto it = m_variables.find(kVarPanelLock);
    return it != m_variables.end() && !it->second.empty() && it->second[0] != 0;
}

std::string Machine::display() const {
    const Panel& panel = m_profile.panel;
    bool showLocked = panelLocked() && !panel.lockedText.empty();
    return panelDisplay(showLocked ? panel.lockedText : m_panelLines, panel.width, panel.height);
}

void Machine::storeVariable(uint16_t id, Bytes value) {
    // The toner page count: writing it restarts the first supply's prediction
    // from that page count.
    if (id == kVarTonerPageCount && value.size() == 4 && !m_toner.supplies.empty())
        m_toner.supplies[0].basePageCount = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                                            (uint32_t{value[2]} << 8) | value[3];
    m_variables[id] = std::move(value);
}

}  // namespace kvsim
