// The simulated printer's state and its request handlers. The printer holds
// its lock around every handler; handlers never block and never call out.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "profile.h"
#include "storage.h"

namespace kvsim {

struct Request {
    uint16_t code = 0;
    const uint8_t* data = nullptr;
    size_t length = 0;
};

// A handler's answer: a result code and, on success, the reply without the
// leading byte that the transport strips.
struct Reply {
    long rc = 0;
    Bytes body;
};

struct RaisedAlert {
    uint16_t family = 0;
    Bytes data;
};

class Machine {
public:
    explicit Machine(const Profile& profile);

    // Carries out one request; -3 for a code the printer does not know.
    Reply handle(const Request& request);
    // Alerts raised by the requests handled so far; the printer takes them.
    std::vector<RaisedAlert> takeRaised();

    void setDeviceStatus(const std::array<uint8_t, 3>& status) { m_deviceStatus = status; }
    const std::map<uint16_t, Bytes>& variables() const { return m_variables; }

    // Request handlers, one per request code (the table in machine.cpp).
    Reply deviceStatus(const Request&);
    Reply inputStatus(const Request&);
    Reply outputStatus(const Request&);
    Reply alertRun(const Request&);
    Reply suppliesStatus(const Request&);
    Reply pageCounts(const Request&);
    Reply deviceChars(const Request&);
    Reply inputBins(const Request&);
    Reply outputBins(const Request&);
    Reply storageOptions(const Request&);
    Reply interpreters(const Request&);
    Reply fontList(const Request&);
    Reply powerOnReset(const Request&);
    Reply loopBack(const Request&);
    Reply resetHostPageCount(const Request&);
    Reply pushButton(const Request&);
    Reply panelText(const Request&);
    Reply readVariable(const Request&);
    Reply setVariable(const Request&);
    Reply readMiscVariable(const Request&);
    Reply resetOrContinue(const Request&);
    Reply resetNvram(const Request&);
    Reply queryJobs(const Request&);
    Reply deleteJob(const Request&);
    Reply remoteOnOffline(const Request&);
    Reply customNames(const Request&);
    Reply setCustomName(const Request&);
    Reply readVariables(const Request&);
    Reply symbolSets(const Request&);
    Reply currentFont(const Request&);
    Reply setCurrentFont(const Request&);
    Reply changeJobPriority(const Request&);
    Reply tonerInfo(const Request&);
    Reply availablePorts(const Request&);
    Reply listFiles(const Request&);
    Reply formatDevice(const Request&);
    Reply deleteFile(const Request&);
    Reply copyFile(const Request&);
    Reply readDirectory(const Request&);

private:
    bool panelLocked() const;
    std::string display() const;
    void raise(uint16_t family, Bytes data) { m_raised.push_back({family, std::move(data)}); }
    // Stores a variable and carries out what the printer ties to it.
    void storeVariable(uint16_t id, Bytes value);

    const Profile& m_profile;
    std::map<uint16_t, Bytes> m_variables;
    std::map<uint16_t, Bytes> m_misc;
    std::array<uint8_t, 3> m_deviceStatus;
    std::map<uint16_t, std::vector<AlertRecord>> m_alertRuns;
    std::vector<PageCount> m_pageCounts;
    std::vector<Job> m_jobs;
    std::vector<CustomName> m_formNames, m_binNicknames;
    std::vector<std::string> m_panelLines;
    CurrentFont m_currentFont;
    Toner m_toner;
    bool m_online = true;
    FileStore m_storage;
    std::vector<RaisedAlert> m_raised;
};

}  // namespace kvsim
