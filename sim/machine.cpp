#include "machine.h"

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
    {0x01, "bidiQueryDeviceStatus", &Machine::deviceStatus},
    {0x02, "bidiQueryInputStatus", &Machine::inputStatus},
    {0x03, "bidiQueryOutputStatus", &Machine::outputStatus},
    {0x06, "bidiQueryPaperJams", &Machine::alertRun},
    {0x07, "bidiQueryOperatorIV", &Machine::alertRun},
    {0x08, "bidiQueryWarnings", &Machine::alertRun},
    {0x09, "bidiQueryServiceReq", &Machine::alertRun},
    {0x0A, "bidiQueryConfigChg", &Machine::alertRun},
    {0x0B, "bidiQuerySupplies", &Machine::alertRun},
    {0x0C, "bidiGetPageCounts", &Machine::pageCounts},
    {0x0D, "bidiQuerySuppliesStatus", &Machine::suppliesStatus},
    {0x10, "bidiGetDeviceChars", &Machine::deviceChars},
    {0x12, "bidiGetInputChars", &Machine::inputBins},
    {0x13, "bidiGetOutputChars", &Machine::outputBins},
    {0x14, "bidiGetStorageOptions", &Machine::storageOptions},
    {0x20, "bidiGetInterpreterLU", &Machine::interpreters},
    {0x21, "bidiGetFontDetails", &Machine::fontList},
    {0x31, "bidiPORPrinter", &Machine::powerOnReset},
    {0x34, "bidiLoopBack", &Machine::loopBack},
    {0x36, "bidiResetHostPageCount", &Machine::resetHostPageCount},
    {0x40, "bidiROPPushButton", &Machine::pushButton},
    {0x43, "bidiROPQueryData", &Machine::panelText},
    {0x4E, "bidiReadOMVar", &Machine::readVariable},
    {0x4F, "bidiSetOMVar", &Machine::setVariable},
    {0x56, "bidiReadMiscVar", &Machine::readMiscVariable},
    {0x57, "bidiROPReset, bidiROPContinue", &Machine::resetOrContinue},
    {0x6D, "bidiResetNVRAM", &Machine::resetNvram},
    {0x75, "bidiQueryJobs", &Machine::queryJobs},
    {0x76, "bidiDeleteJob", &Machine::deleteJob},
    {0x77, "bidiDeleteJob", &Machine::deleteJob},
    {0x8D, "SendRemoteOffline, SendRemoteOnline", &Machine::remoteOnOffline},
    {0x8E, "bidiGetOutputBinNicknames", &Machine::customNames},
    {0x8F, "bidiGetFormNames", &Machine::customNames},
    {0x91, "bidiSetFormName", &Machine::setCustomName},
    {0x92, "bidiSetOutputBinNickname", &Machine::setCustomName},
    {0x94, "bidiReadMultiOMVars", &Machine::readVariables},
    {0x95, "bidiGetSymbolSetList", &Machine::symbolSets},
    {0x96, "bidiGetCurrentFontInformation", &Machine::currentFont},
    {0x97, "bidiSetCurrentFontInformation", &Machine::setCurrentFont},
    {0x98, "bidiChangeJobPriority", &Machine::changeJobPriority},
    {0x9A, "bidiQueryTonerInfo", &Machine::tonerInfo},
    {0x9B, "bidiGetAvailablePorts", &Machine::availablePorts},
    {0xA0, "bidiDeviceFileListing", &Machine::listFiles},
    {0xA1, "bidiDeviceFormat", &Machine::formatDevice},
    {0xA2, "bidiDeviceDeleteFile", &Machine::deleteFile},
    {0xA3, "bidiDeviceCopyFile", &Machine::copyFile},
    {0xA4, "bidiDeviceQueryAlert (listing)", &Machine::readDirectory},
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
