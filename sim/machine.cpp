#include "machine.h"

#include "alert_data.h"
#include "kvprtobj/bidicodes.h"

namespace kvsim {
namespace {

// The requests that change the printer, with the operation of the library
// that sends each. Reads are answered by the encoders (encoders.cpp).
struct WriteEntry {
    uint16_t code;
    const char* operation;
    Reply (Machine::*handle)(const Request&);
};

constexpr WriteEntry kWrites[] = {
    {kvbidi::kPowerOnReset, "bidiPORPrinter", &Machine::powerOnReset},
    {kvbidi::kResetHostPageCount, "bidiResetHostPageCount", &Machine::resetHostPageCount},
    {kvbidi::kPushButton, "bidiROPPushButton", &Machine::pushButton},
    {kvbidi::kSetOMVar, "bidiSetOMVar", &Machine::setVariable},
    {kvbidi::kResetContinue, "bidiROPReset, bidiROPContinue", &Machine::resetOrContinue},
    {kvbidi::kResetNVRAM, "bidiResetNVRAM", &Machine::resetNvram},
    {kvbidi::kDeleteJob, "bidiDeleteJob", &Machine::deleteJob},
    {kvbidi::kDeleteJobFlagged, "bidiDeleteJob", &Machine::deleteJob},
    {kvbidi::kRemoteOnOffline, "SendRemoteOffline, SendRemoteOnline", &Machine::remoteOnOffline},
    {kvbidi::kSetFormName, "bidiSetFormName", &Machine::setCustomName},
    {kvbidi::kSetOutputBinNickname, "bidiSetOutputBinNickname", &Machine::setCustomName},
    {kvbidi::kSetCurrentFont, "bidiSetCurrentFontInformation", &Machine::setCurrentFont},
    {kvbidi::kChangeJobPriority, "bidiChangeJobPriority", &Machine::changeJobPriority},
    {kvbidi::kStorageListFiles, "bidiDeviceFileListing", &Machine::listFiles},
    {kvbidi::kStorageFormat, "bidiDeviceFormat", &Machine::formatDevice},
    {kvbidi::kStorageDeleteFile, "bidiDeviceDeleteFile", &Machine::deleteFile},
    {kvbidi::kStorageCopyFile, "bidiDeviceCopyFile", &Machine::copyFile},
    {kvbidi::kStorageReadDirectory, "bidiDeviceQueryAlert (listing)", &Machine::readDirectory},
};

}  // namespace

Machine::Machine(const Profile& profile) : m_profile(profile), m_state(profile), m_storage(m_state.storageDevices) {}

Reply Machine::handle(const Request& request) {
    if (auto reply = encodeRead(m_state, request)) return std::move(*reply);
    for (const WriteEntry& entry : kWrites)
        if (entry.code == request.code) return (this->*entry.handle)(request);
    return invalidRequest();
}

std::vector<RaisedAlert> Machine::takeRaised() { return std::move(m_raised); }

void Machine::raisePanel() { raise(kFamilyOperatorPanel, operatorPanelAlert(panelDisplay(m_state))); }

void Machine::storeVariable(uint16_t id, Bytes value) {
    // The toner page count: writing it restarts the first supply's prediction
    // from that page count.
    if (id == kVarTonerPageCount && value.size() == 4 && !m_state.toner.supplies.empty())
        m_state.toner.supplies[0].basePageCount = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                                                  (uint32_t{value[2]} << 8) | value[3];
    for (Variable& v : m_state.variables)
        if (v.id == id) {
            v.value = std::move(value);
            return;
        }
    m_state.variables.push_back({id, std::move(value), false});
}

}  // namespace kvsim
