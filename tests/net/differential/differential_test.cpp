// The simulator's built-in profile with the faults of kvprtsimd --faulty (every
// alert family has something to carry) as the standards carry it, read by the
// backend and decoded by the library beside the simulator's, with both protocols and with
// IPP alone. Without network: the recording through the SNMP fill tests'
// reader and the attributes into the fills as the codec decodes them, served
// by the simulator's encoders as the backend serves its snapshot. Served:
// snmpsimd and ippeveprinter opened as net://.
#include <gtest/gtest.h>

#include <fstream>

#include "differential.h"
#include "ipp/fill.h"
#include "ipp_peer.h"
#include "kvprtobj/kvprtsim.h"
#include "snmp/fill.h"
#include "snmprec.h"
#include "snmpsim_peer.h"

namespace {

const std::string kDir = KVNET_DIFFERENTIAL_DIR "/";
constexpr char kLoopback[] = "127.0.0.1";   // where the stand-ins listen, where sim: says its own address
constexpr char kCommunity[] = "differential";

const struct Case {
    const char* name;
    bool snmp;                     // SNMP answers as well as IPP
    const char *filled, *served;   // the golden files
} kCases[] = {{"SnmpAndIpp", true, "fill.golden", "served.golden"},
              {"IppAlone", false, "fill_ipp.golden", "served_ipp.golden"}};

kvsim::Profile faultyProfile() {
    kvsim::Profile profile;
    std::string error;
    EXPECT_TRUE(kvsim::loadProfile(kvsim::SimPrinter::defaultProfileJson(), &profile, &error,
                                   kvsim::SimPrinter::faultyOverlayJson()))
        << error;
    return profile;
}

// The handle of a simulated printer of `profile`, attached as a host attaches one.
unsigned short attached(const kvsim::Profile& profile) {
    unsigned short handle = 0;
    EXPECT_EQ(BceAttachPrinter(std::make_shared<kvsim::SimPrinter>(std::make_unique<kvsim::Profile>(profile)), &handle), 0);
    return handle;
}

TEST(Differential, TheFillsGiveBackWhatTheStandardsCarry) {
    const kvsim::Profile profile = faultyProfile();
    const std::string address = difftest::addressOf(profile);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        kvnet::Snapshot snapshot;
        if (c.snmp) {
            kvtest::TempDir dir;
            std::ofstream(dir.file("default.snmprec")) << difftest::snmprecOf(profile, address);
            kvnet::snmp::MibView view;
            std::string error;
            ASSERT_TRUE(snmpfilltest::loadSnmprec(dir.file("default.snmprec"), &view, &error)) << error;
            kvnet::snmp::fill(view, address, &snapshot);
        } else {
            snapshot.profile.info.usFlags = PRTINFO_BIDI_CAPABLE;   // what the printer object says before any protocol
        }
        kvnet::ipp::fillPrinter(difftest::decoded(difftest::ippPrinterOf(profile)), &snapshot);
        std::vector<kvnet::ipp::Attributes> jobs;
        for (const difftest::IppGroup& job : difftest::ippJobsOf(profile)) jobs.push_back(difftest::decoded(job));
        kvnet::ipp::JobNumbers numbers;
        kvnet::ipp::fillJobs(jobs, numbers, &snapshot);
        kvprt::Printer filled(attached(snapshot.profile), "filled"), sim(attached(profile), "sim:");
        difftest::expectDifferences(difftest::libraryView(sim), difftest::libraryView(filled), kDir + c.filled);
    }
}

TEST(Differential, NetAnswersAsSimWhereTheStandardsCarryIt) {
    if (!kvtest::installed("snmpsimd") || !kvtest::IppEvePeer::available())
        GTEST_SKIP() << "snmpsimd or ippeveprinter is not installed (apt-get install snmpsim cups-ipp-utils dbus)";
    const kvsim::Profile profile = faultyProfile();
    kvtest::TempDir dir;
    std::ofstream(dir.file(std::string(kCommunity) + ".snmprec")) << difftest::snmprecOf(profile, kLoopback);
    std::ofstream(dir.file("printer.attrs")) << difftest::ippeveprinterFile(difftest::ippPrinterOf(profile));
    kvtest::SnmpSim agent({dir.file(std::string(kCommunity) + ".snmprec")});
    kvtest::IppEvePeer ipp(dir.file("printer.attrs"));
    for (const Case& c : kCases) {   // both on the same stand-ins
        SCOPED_TRACE(c.name);
        kvprt::Printer net(std::string("net://") + kLoopback + "?protocols=" + (c.snmp ? "snmp,ipp" : "ipp") +
                           "&snmp-port=" + std::to_string(agent.port()) + "&community=" + kCommunity +
                           "&ipp-port=" + std::to_string(ipp.port()) + "&timeout=2000");
        kvprt::Printer sim(attached(profile), "sim:");
        difftest::json expected = difftest::libraryView(sim), got = difftest::libraryView(net);
        difftest::replaceText(expected, difftest::addressOf(profile), kLoopback);
        // The stand-in's port is its own: the address record shows it as "ipp-port".
        if (difftest::json& record = got["printer"]["networkAddress"]; record.value("port", 0) == ipp.port())
            record["port"] = "ipp-port";
        difftest::expectDifferences(expected, got, kDir + c.served);
    }
}

}  // namespace
