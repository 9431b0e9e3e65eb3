// The simulated printer's behaviour: its state, the reads answered from it by
// the shared encoders (encoders.h), and the requests that change it, which
// are the simulator's own. The printer holds its lock around every request;
// handlers never block and never call out.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "encoders.h"
#include "kvprtobj/kvprtsim.h"
#include "pjl.h"
#include "profile.h"
#include "storage.h"

namespace kvsim {

struct RaisedAlert {
    uint16_t family = 0;
    Bytes data;
};

class Machine {
public:
    explicit Machine(const Profile& profile);
    Machine(const Machine&) = delete;   // its file store works on its own state
    Machine& operator=(const Machine&) = delete;

    // Carries out one request; -3 for a code the printer does not know.
    Reply handle(const Request& request);
    // Alerts raised by the requests handled so far; the printer takes them.
    std::vector<RaisedAlert> takeRaised();

    // The printer's present state: the profile as the requests so far left it.
    const Profile& state() const { return m_state; }
    void setDeviceStatus(const std::array<uint8_t, 3>& status) { m_state.deviceStatus = status; }

    // The requests that change the printer, one per request code (the table
    // in machine.cpp).
    Reply powerOnReset(const Request&);
    Reply resetHostPageCount(const Request&);
    Reply pushButton(const Request&);
    Reply setVariable(const Request&);
    Reply resetOrContinue(const Request&);
    Reply resetNvram(const Request&);
    Reply deleteJob(const Request&);
    Reply remoteOnOffline(const Request&);
    Reply setCustomName(const Request&);
    Reply setCurrentFont(const Request&);
    Reply changeJobPriority(const Request&);
    Reply listFiles(const Request&);
    Reply formatDevice(const Request&);
    Reply deleteFile(const Request&);
    Reply copyFile(const Request&);
    Reply readDirectory(const Request&);

    // PJL (pjl_answers.cpp): the reply to one command of a PJL job, its
    // form feed included; empty for a command that has none. `data` is what
    // followed an FSDOWNLOAD line; `job` holds the job's SET values.
    std::string answerPjl(const kvnet::pjl::Command& command, std::string_view data, PjlJob& job);
    // The status the print port reports (INFO STATUS, USTATUS DEVICE): the
    // device-status bytes' code, the display's first line, online when ready.
    kvnet::pjl::DeviceStatus pjlStatus() const;

private:
    std::string pjlInfo(const std::string& category) const;
    std::string pjlInquire(const kvnet::pjl::Command& command, const PjlJob* job) const;
    void pjlAssign(const kvnet::pjl::Command& command, PjlJob* job);
    std::string pjlFileSystem(const kvnet::pjl::Command& command, std::string_view data);

    void raise(uint16_t family, Bytes data) { m_raised.push_back({family, std::move(data)}); }
    void raisePanel();
    // Stores a variable and carries out what the printer ties to it.
    void storeVariable(uint16_t id, Bytes value);
    void restoreVariables();   // every object-model variable to its profile value

    const Profile& m_profile;   // as loaded: what resets return to
    Profile m_state;
    bool m_online = true;
    FileStore m_storage;   // on m_state.storageDevices
    std::vector<RaisedAlert> m_raised;
};

}  // namespace kvsim
