// A net:// printer through the engine and the printer object, as a host sees
// it, against snmpsim and ports that refuse, stay silent or answer garbage:
// what a partial and a whole outage answer and how long they take, writes
// reaching the device, changes and traps pushed as alerts, snapshots.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "ipp_peer.h"
#include "kvprtobj/jobs.h"
#include "kvprtobj/kvprtsim.h"
#include "pjl_variables.h"
#include "profile.h"
#include "scripted_printer.h"
#include "sim_daemon.h"
#include "snmpsim_peer.h"
#include "test_server.h"
#include "wire/socket.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kvtest::run;

namespace {

using Opened = kvtest::OpenedPrinter;

class NetPrinterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!kvtest::installed("snmpsimd")) return;
        trapPort = kvtest::freeUdpPort();
        ::setenv("KVPRTOBJ_NET_TRAP_LISTEN", ("127.0.0.1:" + std::to_string(trapPort)).c_str(), 1);
        sim = std::make_unique<kvtest::SnmpSim>(std::vector<std::string>{KVTEST_NET_RECORDINGS, KVTEST_PRINTER_DATA});
    }
    static void TearDownTestSuite() { sim.reset(); }
    void SetUp() override {
        if (!sim) GTEST_SKIP() << "snmpsimd is not installed (Debian package snmpsim)";
    }
    static std::string snmpset(const std::string& oid, int value) {
        return "snmpset -v2c -c writable -t 2 -r 0 127.0.0.1:" + std::to_string(sim->port()) + " " + oid + " i " +
               std::to_string(value);
    }

    static inline std::unique_ptr<kvtest::SnmpSim> sim;
    static inline uint16_t trapPort = 0;
};

constexpr const char* kHrDeviceStatus = "1.3.6.1.2.1.25.3.2.1.5.1";
constexpr int kRunning = 2, kDown = 5;

// Waits for the next alert of `family` on `handle`; its id, or 0.
unsigned short awaitAlert(unsigned short handle, unsigned long family, std::chrono::milliseconds within) {
    for (auto deadline = Clock::now() + within; Clock::now() < deadline;) {
        unsigned short id = 0;
        unsigned long got = 0;
        if (BceWaitAlert(handle, 100, &id, &got) == 0 && got == family) return id;
    }
    return 0;
}

// A request's result and reply on `handle`.
std::pair<long, kvtest::ByteVec> ask(unsigned short handle, unsigned short code, const kvtest::ByteVec& data = {}) {
    unsigned char reply[256];
    unsigned long length = sizeof reply;
    long rc = BceSendBidi(1, handle, 0, code, reply, &length, data.data(), data.size());
    return {rc, rc == 0 ? kvtest::ByteVec(reply, reply + length) : kvtest::ByteVec{}};
}

}  // namespace

// One protocol silent while the other answers: what it alone carries is not
// there (-3), and the object's bidi-active flag stays up.
TEST_F(NetPrinterTest, APartialOutageAnswersInvalidAndKeepsBidiActive) {
    const std::string uris[] = {
        sim->uri("healthy"),   // IPP not asked: jobs have no source
        "net://127.0.0.1?snmp-port=" + std::to_string(sim->port()) + "&community=healthy&timeout=1000&ipp-port=" +
            std::to_string(kvtest::freePort()),
    };
    for (const std::string& uri : uris) {
        Opened printer(uri);
        ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
        kvtest::OpenPrtObj obj(printer.handle, 1);
        KVPrtObj::PRINTERSTATUS status{};
        unsigned int count = 99;
        KVPrtObj::KVPJOBDATA* jobs = nullptr;
        long statusRc = obj.bidiQueryDeviceStatus(&status);
        long jobsRc = obj.bidiQueryJobs(0, &count, &jobs);
        EXPECT_EQ(std::tuple(statusRc, status.uStatusByte0Bit0 + 0u, jobsRc, obj.isBidiActive(), jobs),
                  std::tuple(0L, 1u, long{BCE_E_INVALID}, 1, nullptr))
            << uri;
    }
}

// Nothing answers: the channel-down code of what failed, within one time-out, and the
// client's words for it (BceLastFailure).
TEST_F(NetPrinterTest, NothingAnsweringIsAChannelDownWithinOneTimeOut) {
    kvtest::FakeAgent silent([](const std::string&) { return ""; });
    kvtest::FakeAgent garbage([](const std::string&) { return "\x30\x03\x02\x01"; });
    const std::string ipp = "&ipp-port=" + std::to_string(kvtest::freePort());
    const struct {
        std::string uri;
        long rc;
        const char* words;   // in the failure's words
    } cases[] = {
        {"net://127.0.0.1?timeout=400&snmp-port=" + std::to_string(silent.port()) + ipp, BCE_E_TIMEOUT, "SNMP: no answer"},
        {"net://127.0.0.1?timeout=400&protocols=ipp" + ipp, BCE_E_CHANNEL_DOWN, "IPP: cannot connect to 127.0.0.1 port"},
        {"net://127.0.0.1?timeout=400&protocols=snmp&snmp-port=" + std::to_string(garbage.port()), BCE_E_BAD_REPLY, "SNMP: "},
    };
    for (const auto& c : cases) {
        Opened printer(c.uri);
        ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
        unsigned char reply[64];
        unsigned long length = sizeof reply;
        auto start = Clock::now();
        EXPECT_EQ(BceSendBidi(1, printer.handle, 0, kvbidi::kDeviceStatus, reply, &length, nullptr, 0), c.rc) << c.uri;
        EXPECT_LT(Clock::now() - start, 900ms) << c.uri;
        char words[256];
        EXPECT_GT(BceLastFailure(printer.handle, words, sizeof words), 0u) << c.uri;
        EXPECT_NE(std::string(words).find(c.words), std::string::npos) << c.uri << ": " << words;
    }
}

// The panel lock goes to the device and reads back; a change the device
// makes is pushed as a device-status alert once a request refreshes.
TEST_F(NetPrinterTest, WritesReachTheDeviceAndChangesArePushed) {
    ASSERT_EQ(run(snmpset(kHrDeviceStatus, kRunning)), 0);
    Opened printer(sim->uri("writable", "poll=0"));
    ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
    kvtest::OpenPrtObj obj(printer.handle, 1);
    unsigned char lock[2] = {0x00, 0x4D}, locked = 1;
    ASSERT_EQ(obj.bidiSetOMVar(lock, &locked, 1), 0);
    EXPECT_NE(awaitAlert(printer.handle, kvbidi::kOMVarEventAlert, 1s), 0);
    EXPECT_EQ(run("snmpget -v2c -c writable 127.0.0.1:" + std::to_string(sim->port()) +
                  " 1.3.6.1.2.1.43.5.1.1.13.1 | grep -q 'INTEGER: 4'"),
              0);
    // The contact is the map's sysContact: written there, read back; the serial number is read-only.
    unsigned char contact[2] = {0x02, 0x05}, serial[2] = {0x0F, 0x01};
    char room[] = "Room 9";
    ASSERT_EQ(obj.bidiSetOMVar(contact, room, 6), 0);
    EXPECT_EQ(run("snmpget -v2c -c writable 127.0.0.1:" + std::to_string(sim->port()) +
                  " 1.3.6.1.2.1.1.4.0 | grep -q 'STRING: \"Room 9\"'"),
              0);
    EXPECT_EQ(ask(printer.handle, kvbidi::kReadOMVar, kvtest::hex("02 05")).second, kvtest::hex("4E 00 02 05 52 6F 6F 6D 20 39"));
    EXPECT_NE(obj.bidiSetOMVar(serial, room, 6), 0);
    kvtest::ByteVec tooLong = kvtest::hex("02 05");   // a value of 256 bytes: more than a variable holds
    tooLong.resize(2 + 256, 'A');
    EXPECT_EQ(ask(printer.handle, kvbidi::kSetOMVar, tooLong).first, BCE_E_INVALID);

    ASSERT_EQ(run(snmpset(kHrDeviceStatus, kDown)), 0);
    std::this_thread::sleep_for(2100ms);   // the snapshot's age, after which a request refreshes it
    KVPrtObj::PRINTERSTATUS status{};
    ASSERT_EQ(obj.bidiQueryDeviceStatus(&status), 0);
    EXPECT_EQ(std::tuple(status.uStatusByte0Bit0 + 0u, status.uStatusByte2 + 0u), std::tuple(0u, 5u));
    EXPECT_NE(awaitAlert(printer.handle, kvbidi::kDeviceStatusAlert, 1s), 0);
    run(snmpset(kHrDeviceStatus, kRunning));
}

// A trap from the printer's address polls it at once, with no request and
// no poll of its own due.
TEST_F(NetPrinterTest, ATrapPollsThePrinterAtOnce) {
    ASSERT_EQ(run(snmpset(kHrDeviceStatus, kRunning)), 0);
    Opened printer(sim->uri("writable", "poll=0"));
    ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
    unsigned char reply[64];
    unsigned long length = sizeof reply;
    ASSERT_EQ(BceSendBidi(1, printer.handle, 0, kvbidi::kDeviceStatus, reply, &length, nullptr, 0), 0);
    ASSERT_EQ(run(snmpset(kHrDeviceStatus, kDown)), 0);
    EXPECT_EQ(awaitAlert(printer.handle, kvbidi::kDeviceStatusAlert, 500ms), 0);   // nothing polls
    ASSERT_EQ(run("snmptrap -v2c -c public 127.0.0.1:" + std::to_string(trapPort) +
                  " '' 1.3.6.1.2.1.43.18.2.0.1 1.3.6.1.2.1.43.18.1.1.7.1.1 i 3"),
              0);
    EXPECT_NE(awaitAlert(printer.handle, kvbidi::kDeviceStatusAlert, 1500ms), 0);
    run(snmpset(kHrDeviceStatus, kRunning));
}

// PJL on the print port (kvprtsimd --pjl-listen) beside SNMP: a variable
// written (once: an equal value is not written again), seen by the
// simulator's own bidi side and read back; each fault of the port answers
// for PJL alone (variables, a storage listing) while SNMP goes on. With PJL
// alone: loop-back, storage options and page count.
TEST_F(NetPrinterTest, PjlAnswersOnDemandAndItsFaultsLeaveSnmpAnswering) {
    using kvtest::hex;
    const struct {
        std::string fault;
        long rc;
    } rows[] = {{"", 0}, {"silent", BCE_E_INVALID}, {"one-connection", BCE_E_INVALID},
                {"endless", BCE_E_BAD_REPLY}, {"not-pjl", BCE_E_BAD_REPLY}};
    for (const auto& row : rows) {
        const std::string port = std::to_string(kvtest::freePort());
        std::vector<std::string> args = {"--pjl-listen", "127.0.0.1:" + port};
        if (!row.fault.empty()) args.insert(args.end(), {"--pjl-fault", row.fault});
        kvtest::TempDir dir;   // the daemon's log: what it ignored or would have printed
        kvtest::SimDaemon daemon(KVPRTSIMD, args, {{}, "127.0.0.1", dir.file("stderr"), ""});
        Opened bidiSide(daemon.uri());
        const std::string uri = "net://127.0.0.1?protocols=snmp,pjl&community=healthy&poll=0&timeout=1000&snmp-port=" +
                                std::to_string(sim->port()) + "&pjl-port=" + port;
        Opened printer(uri);
        ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
        kvwire::Connect how{};   // another host holding the port: one-connection closes the backend's
        int holder = row.fault == "one-connection" ? kvwire::connectTcp("127.0.0.1", port, 2000, &how) : -1;
        const auto set = ask(printer.handle, kvbidi::kSetOMVar, hex("01 01 00 03"));
        const auto read = ask(printer.handle, kvbidi::kReadMultiOMVars, hex("02 01 01 00 4D"));
        const long listing = ask(printer.handle, kvbidi::kStorageListFiles, hex("01")).first;
        const long font = ask(printer.handle, kvbidi::kCurrentFont).first;
        EXPECT_EQ(std::tuple(set.first, read.first, listing, font, ask(printer.handle, kvbidi::kDeviceStatus).first),
                  std::tuple(row.rc, row.rc, row.rc, row.rc, 0L))
            << row.fault;
        if (holder >= 0) {
            ::close(holder);
            // The port is free again once the simulator has seen the other host go (under load
            // that may take a while); the write above did not happen.
            auto again = ask(printer.handle, kvbidi::kReadOMVar, hex("01 01"));
            for (auto until = Clock::now() + 5s; again.first != 0 && Clock::now() < until;) {
                std::this_thread::sleep_for(100ms);
                again = ask(printer.handle, kvbidi::kReadOMVar, hex("01 01"));
            }
            EXPECT_EQ(again, std::pair(0L, hex("4E 00 01 01 00 01")));
        }
        if (row.fault == "silent" || row.fault == "endless" || row.fault == "not-pjl") {
            // Holding the port for its status: the peer's fault drops the held connection, again
            // after each retry; SNMP goes on answering and the printer closes at once.
            auto held = std::make_unique<Opened>(uri + "&ustatus=device");
            std::this_thread::sleep_for(1500ms);
            EXPECT_EQ(ask(held->handle, kvbidi::kDeviceStatus).first, 0) << row.fault;
            const auto closing = Clock::now();
            held.reset();
            EXPECT_LT(Clock::now() - closing, 500ms) << row.fault;
        }
        if (!row.fault.empty()) continue;
        EXPECT_EQ(read.second, hex("94 00 01 01 02 00 03 00 4D 01 00"));   // PJL's copies, SNMP's panel lock
        EXPECT_EQ(kvtest::drainAlerts(bidiSide.handle), std::vector<kvtest::ByteVec>{hex("03 40 09 01 01 00 03")});
        EXPECT_EQ(ask(printer.handle, kvbidi::kSetOMVar, hex("01 01 00 03")).first, 0);
        EXPECT_EQ(kvtest::drainAlerts(bidiSide.handle).size(), 0u);

        Opened pjlAlone("net://127.0.0.1?protocols=pjl&timeout=1000&pjl-port=" + port);
        EXPECT_EQ(ask(pjlAlone.handle, kvbidi::kLoopBack, hex("00 FF 41")), std::pair(0L, hex("34 00 FF 41")));
        EXPECT_EQ(ask(pjlAlone.handle, kvbidi::kSetOMVar, hex("0F 01 41")).first, BCE_E_INVALID);   // the serial: read-only
        // Storage requests refused before anything is sent: a name's count past the request's end or short of
        // it, a copy onto its own device or with a replace flag of 2, a listing of two devices.
        const std::pair<unsigned short, const char*> malformed[] = {
            {kvbidi::kStorageDeleteFile, "01 05 41"},       {kvbidi::kStorageDeleteFile, "01 01 41 42"},
            {kvbidi::kStorageCopyFile, "01 02 00 05 41"},  {kvbidi::kStorageCopyFile, "01 01 00 01 41"},
            {kvbidi::kStorageCopyFile, "01 02 02 01 41"},  {kvbidi::kStorageListFiles, "01 02"},
        };
        for (const auto& [code, data] : malformed)
            EXPECT_EQ(ask(pjlAlone.handle, code, hex(data)).first, BCE_E_INVALID) << code << " " << data;
        // The current font reads as the simulator's own; a new one (tag 3, cartridge) is written and read back,
        // one PJL cannot carry (tag 5) is not.
        EXPECT_EQ(ask(pjlAlone.handle, kvbidi::kCurrentFont), ask(bidiSide.handle, kvbidi::kCurrentFont));
        EXPECT_EQ(ask(pjlAlone.handle, kvbidi::kSetCurrentFont, hex("03 00 02 00 0E 00 00 00 0C")).second, hex("97 00 00"));
        EXPECT_EQ(ask(bidiSide.handle, kvbidi::kCurrentFont).second, hex("96 00 03 00 02 00 0E 00 00 00 0C"));
        EXPECT_EQ(ask(pjlAlone.handle, kvbidi::kSetCurrentFont, hex("05 00 02 00 0E 00 00 00 0C")).first, BCE_E_INVALID);
        // The settings' reset (INITIALIZE) only with allow=reset: the copies written above are 1 again.
        Opened resetting("net://127.0.0.1?protocols=pjl&allow=format,reset&timeout=1000&pjl-port=" + port);
        EXPECT_EQ(std::pair(ask(pjlAlone.handle, kvbidi::kResetNVRAM, hex("00")).first,
                            ask(resetting.handle, kvbidi::kResetNVRAM, hex("00")).first),
                  std::pair(long{BCE_E_INVALID}, 0L));
        EXPECT_EQ(ask(bidiSide.handle, kvbidi::kReadOMVar, hex("01 01")).second, hex("4E 00 01 01 00 01"));
        const auto options = ask(pjlAlone.handle, kvbidi::kStorageOptions).second;   // INFO FILESYS, in KB
        EXPECT_NE(std::string(options.begin(), options.end()).find("FLASH: 1;SIZE:  4096;FREE SPACE: 1024;"), std::string::npos);
        // Page counts: the code, their number, then type 1 (the life count) first.
        const auto simulated = ask(bidiSide.handle, kvbidi::kPageCounts).second;
        const auto counts = ask(pjlAlone.handle, kvbidi::kPageCounts).second;
        ASSERT_TRUE(simulated.size() >= 7 && counts.size() >= 7);
        EXPECT_TRUE(std::equal(counts.begin() + 2, counts.begin() + 7, simulated.begin() + 2));
        EXPECT_EQ(kvtest::readText(dir.file("stderr")), "");
    }
}

// ustatus=device on a port that serves one connection at a time: a panel
// change the simulator sends unasked reaches the host with no poll, the
// on-demand exchanges share the held connection, and a simulator started
// again is connected again after the back-off while SNMP goes on answering.
TEST_F(NetPrinterTest, UstatusHoldsThePortAndPushesThePanelAtOnce) {
    using kvtest::hex;
    const std::string port = std::to_string(kvtest::freePort());
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--pjl-listen", "127.0.0.1:" + port, "--pjl-fault", "one-connection"});
    Opened printer("net://127.0.0.1?protocols=snmp,pjl&ustatus=device&community=healthy&poll=0&timeout=1000&snmp-port=" +
                   std::to_string(sim->port()) + "&pjl-port=" + port);
    ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
    auto panelShows = [&](const std::string& text) {
        for (auto until = Clock::now() + 3s; Clock::now() < until; std::this_thread::sleep_for(100ms)) {
            const auto panel = ask(printer.handle, kvbidi::kPanelText).second;
            if (std::string(panel.begin(), panel.end()).find(text) != std::string::npos) return true;
        }
        return false;
    };
    for (int round = 0; round < 2; ++round) {
        while (awaitAlert(printer.handle, kvbidi::kPanelAlert, 700ms) != 0) {   // connecting, dropping
        }
        Opened bidiSide(daemon.uri());
        ASSERT_EQ(ask(bidiSide.handle, kvbidi::kPushButton, hex("00 00 04")).first, 0);   // Stop: "NOT READY"
        EXPECT_NE(awaitAlert(printer.handle, kvbidi::kPanelAlert, 3s), 0) << round;
        EXPECT_TRUE(panelShows("NOT READY")) << round;
        EXPECT_EQ(ask(printer.handle, kvbidi::kReadOMVar, hex("01 01")), std::pair(0L, hex("4E 00 01 01 00 01")));
        daemon.restart();
        EXPECT_EQ(ask(printer.handle, kvbidi::kDeviceStatus).first, 0);
    }
}

// ustatus=device against a print port of the test's own, which answers the
// held connection's INFO STATUS and then sends one message unasked: a status
// (shown on the panel) or a message of a kind never asked for keeps the
// connection; one malformed, not PJL or beyond the bound drops it at once;
// one cut short drops it once the time-out has passed since its first part.
TEST_F(NetPrinterTest, AHeldPortKeepsStatusesAndDropsWhatIsNone) {
    constexpr auto kTimeout = 2000ms, kKept = 1500ms;
    const struct {
        const char* name;
        std::string sent;
        std::chrono::milliseconds least, most;   // when it is closed after the message; kept: kKept, kKept
    } rows[] = {
        {"a status", "@PJL USTATUS DEVICE\r\nCODE=40021\r\nDISPLAY=\"CLOSE DOOR\"\r\nONLINE=FALSE\r\n\f", kKept, kKept},
        {"another kind", "@PJL USTATUS JOB\r\nSTART\r\nNAME=\"x\"\r\n\f", kKept, kKept},
        {"malformed", "@PJL USTATUS DEVICE\r\nCODE=4002x\r\nONLINE=FALSE\r\n\f", 0ms, 1000ms},
        {"not PJL", "%!PS-Adobe-3.0\r\n\f", 0ms, 1000ms},
        {"beyond the bound", "@PJL USTATUS DEVICE\r\n" + std::string(70 * 1024, 'x'), 0ms, 1000ms},
        {"cut short", "@PJL USTATUS DEVICE\r\nCODE=10001\r\n", kTimeout, 2 * kTimeout},
    };
    for (const auto& row : rows) {
        std::promise<std::chrono::milliseconds> closedAfter;   // of the first connection
        std::atomic<int> connections{0};
        kvtest::TestServer port([&](int fd) {
            const bool first = connections++ == 0;
            std::string in;
            char chunk[4096];
            for (auto until = Clock::now() + kTimeout; in.find("INFO STATUS") == std::string::npos;) {
                pollfd p{fd, POLLIN, 0};
                if (Clock::now() > until || ::poll(&p, 1, 100) < 0) return;
                const ssize_t n = p.revents ? ::recv(fd, chunk, sizeof chunk, 0) : 0;
                if (p.revents && n <= 0) return;
                in.append(chunk, static_cast<size_t>(std::max<ssize_t>(n, 0)));
            }
            const std::string sent = "@PJL INFO STATUS\r\nCODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n\f" +
                                     (first ? row.sent : "");
            const auto since = Clock::now();   // before the send: the host may read it before send returns
            if (::send(fd, sent.data(), sent.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(sent.size())) return;
            const auto watched = row.least == kKept ? kKept : row.most + 1000ms;
            auto closed = kKept;   // when the host closed; kKept when it did not within `watched`
            while (Clock::now() - since < watched) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0 && ::recv(fd, chunk, sizeof chunk, 0) <= 0) {
                    closed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
                    break;
                }
            }
            if (first) closedAfter.set_value(closed);
        });
        Opened printer("net://127.0.0.1?protocols=snmp,pjl&ustatus=device&community=healthy&poll=0&timeout=" +
                       std::to_string(kTimeout.count()) + "&snmp-port=" + std::to_string(sim->port()) +
                       "&pjl-port=" + std::to_string(port.port()));
        ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
        auto closed = closedAfter.get_future();
        ASSERT_EQ(closed.wait_for(4 * kTimeout), std::future_status::ready) << row.name;
        const auto after = closed.get();
        EXPECT_TRUE(after >= row.least && after <= row.most) << row.name << ": closed after " << after.count() << " ms";
        if (std::string(row.name) == "a status") {
            const auto panel = ask(printer.handle, kvbidi::kPanelText).second;
            EXPECT_NE(std::string(panel.begin(), panel.end()).find("CLOSE DOOR"), std::string::npos);
        }
    }
}

// Device storage over the PJL file system with kvprt: after each command the
// listing through net:// is the simulator's own (its bidi side), which holds
// or lacks the file; a format only with allow=format.
TEST_F(NetPrinterTest, KvprtStorageThroughPjlChangesTheSimulatorsFiles) {
    const std::string port = std::to_string(kvtest::freePort());
    kvtest::TempDir dir;
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--pjl-listen", "127.0.0.1:" + port}, {{}, "127.0.0.1", dir.file("stderr"), ""});
    const std::string pjl = "net://127.0.0.1?protocols=snmp,pjl&community=healthy&timeout=2000&snmp-port=" +
                            std::to_string(sim->port()) + "&pjl-port=" + port;
    auto storage = [](const std::string& uri, const std::string& args) {
        std::string output;
        int status = run(std::string(KVPRT) + " -p '" + uri + "' storage " + args, &output);
        return std::pair(status, output);
    };
    const struct {
        std::string uri, args, shown, device, file;
        bool held;
    } steps[] = {
        {pjl, "ls disk", "forms/delivery note.frm", "disk", "logos/company.pcl", true},
        {pjl, "cp flash disk fonts/ocr-b.ttf", "FSDOWNLOAD NAME=\"1:\\fonts\\ocr-b.ttf\" SIZE=1048576", "disk",
         "1048576  fonts/ocr-b.ttf", true},
        {pjl, "rm disk forms/invoice.frm", "Deleted forms/invoice.frm", "disk", "forms/invoice.frm", false},
        {pjl, "format flash", "invalid request", "flash", "fonts/code39.ttf", true},
        {pjl + "&allow=format", "format flash", "Device flash formatted.", "flash", "fonts/code39.ttf", false},
    };
    for (const auto& step : steps) {
        EXPECT_NE(storage(step.uri, step.args).second.find(step.shown), std::string::npos) << step.args;
        const auto simulated = storage(daemon.uri(), "ls " + step.device);
        EXPECT_EQ(storage(pjl, "ls " + step.device), simulated) << step.args;
        EXPECT_EQ(simulated.second.find(step.file) != std::string::npos, step.held) << step.args << simulated.second;
    }
}

// A printer's snapshot is a profile the simulator serves again.
TEST_F(NetPrinterTest, ASnapshotIsAProfileTheSimulatorLoads) {
    Opened printer(sim->uri("healthy"));
    ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
    std::string json;
    ASSERT_EQ(BceSnapshotProfile(printer.handle, &json), 0);
    kvsim::Profile profile;
    std::string error;
    EXPECT_TRUE(kvsim::loadProfile(json, &profile, &error)) << error;
    EXPECT_EQ(std::string(profile.info.szModelName), "Example Printer 4000");
}

// kvprt's report works on every recording of the project: every section is
// read or not available from that printer, none fails.
TEST_F(NetPrinterTest, KvprtReportsEveryRecording) {
    for (const auto& entry : std::filesystem::directory_iterator(KVTEST_NET_RECORDINGS)) {
        if (entry.path().extension() != ".snmprec") continue;   // discover/: printers of a sweep
        const std::string community = entry.path().stem();
        const std::string command = std::string(KVPRT) + " --json -p '" + sim->uri(community) + "' report";
        std::string output;
        int status = run(command, &output);
        EXPECT_EQ(status, 0) << community << ": " << output;
        EXPECT_EQ(output.find("\"error\""), std::string::npos) << community << ": " << output;
        EXPECT_NE(output.find("\"deviceStatus\""), std::string::npos) << community;
    }
}

// Jobs through IPP: listed, deleted with Cancel-Job, and a job-transition
// alert once the printer no longer lists the job.
TEST(NetPrinterIpp, AJobIsListedDeletedAndItsTransitionPushed) {
    if (!kvtest::IppEvePeer::available()) GTEST_SKIP() << "ippeveprinter, ipptool or dbus-daemon is not installed";
    kvtest::IppEvePeer peer(KVTEST_IPP_ATTRIBUTES);
    kvtest::TempDir dir;
    std::ofstream(dir.file("page.bin")) << "a page of the printer tests\n";
    ASSERT_EQ(peer.ipptool(KVTEST_IPP_PRINT_JOB, dir.file("page.bin")), 0) << peer.log();

    Opened printer("net://localhost?protocols=ipp&timeout=2000&poll=1&ipp-port=" + std::to_string(peer.port()));
    ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
    kvtest::OpenPrtObj obj(printer.handle, 1);
    unsigned int count = 0;
    KVPrtObj::KVPJOBDATA* jobs = nullptr;
    ASSERT_EQ(obj.bidiQueryJobs(0, &count, &jobs), 0);
    ASSERT_EQ(count, 1u);
    unsigned short number = jobs[0].jobNumber;
    delete[] jobs;
    EXPECT_EQ(obj.bidiDeleteJob(number, 0), 0);
    EXPECT_NE(awaitAlert(printer.handle, kvbidi::kJobTransitionAlert, 5s), 0);   // the backend's poll sees it gone
    EXPECT_EQ(obj.bidiDeleteJob(9999, 0), BCE_E_INVALID);
    EXPECT_TRUE(obj.isBidiActive());
}

// Quick Setup through PJL, on a printer of PJL alone (INFO ID gives the
// printer information kvprt opens with) and one with SNMP beside it: a
// setting changed on one printer reaches another through a file,
// whose receives through net:// and through the simulator itself give the
// same file; files go from net:// to sim: and from sim: to net:// alike.
TEST_F(NetPrinterTest, QuickSetupCopiesSettingsBetweenPjlPrinters) {
    kvtest::TempDir dir;
    std::vector<std::unique_ptr<kvtest::SimDaemon>> daemons;
    std::vector<std::string> net;
    for (int i = 0; i < 2; ++i) {
        const std::string port = std::to_string(kvtest::freePort());
        const std::vector<std::string> args = {"--pjl-listen", "127.0.0.1:" + port};
        daemons.push_back(std::make_unique<kvtest::SimDaemon>(KVPRTSIMD, args));
        const std::string snmp = "snmp,pjl&community=healthy&snmp-port=" + std::to_string(sim->port());
        net.push_back("'net://127.0.0.1?poll=0&timeout=2000&pjl-port=" + port + "&protocols=" + (i ? snmp : "pjl") + "'");
    }
    {
        Opened first(daemons[0]->uri());
        ASSERT_EQ(ask(first.handle, kvbidi::kSetOMVar, kvtest::hex("01 01 00 07")).first, 0);   // 7 copies
    }
    auto kvprt = [&](const std::string& printer, const std::string& command, const std::string& file) {
        std::string output;
        int status = run(std::string(KVPRT) + " -p " + printer + " qs " + command + " " + dir.file(file), &output);
        EXPECT_EQ(status, 0) << printer << " qs " << command << ": " << output;
        return kvtest::readText(dir.file(file));
    };
    const std::string a = kvprt(net[0], "receive", "a.qsf");
    EXPECT_NE(a, kvprt(net[1], "receive", "before.qsf"));
    kvprt(net[1], "send", "a.qsf");
    EXPECT_EQ(kvprt(net[1], "receive", "b.qsf"), a);
    EXPECT_EQ(kvprt(daemons[1]->uri(), "receive", "c.qsf"), a);
    kvprt("sim:", "send", "a.qsf");
    const std::string simulated = kvprt("sim:", "receive", "s.qsf");
    kvprt(net[0], "send", "s.qsf");
    EXPECT_EQ(kvprt(net[0], "receive", "d.qsf"), simulated);
}

// Quick Setup of a printer speaking PJL (type 0, the type a net:// printer
// with pjl reports) lists exactly the map's writable variables but the
// panel lock and the property tag, which have requests of their own.
TEST(NetPrinterPjl, QuickSetupListsTheMapsWritableVariables) {
    std::set<unsigned> listed, mapped;
    std::istringstream cfg(kvtest::readText(KVTEST_QSVARS));
    for (std::string line, section; std::getline(cfg, line);) {
        if (line.starts_with('[')) section = line;
        if (section != "[PrinterType0]" || !line.starts_with("List")) continue;
        std::istringstream ids(line.substr(line.find('=') + 1));
        for (unsigned id; ids >> std::hex >> id;) listed.insert(id);
    }
    for (const kvsim::PjlVariable& v : kvsim::pjlVariables())
        if (!v.readOnly && v.id != kvsim::kVarPanelLock && v.id != kvsim::kVarPropertyTag) mapped.insert(v.id);
    EXPECT_EQ(listed, mapped);
}

// A variable the printer does not list in INFO VARIABLES (checked once, at
// the first variable request) answers -3 without the print port: with the
// port gone, a listed one answers the port's failure.
TEST(NetPrinterPjl, AVariableThePrinterDoesNotListIsNeitherReadNorWritten) {
    kvtest::TempDir dir;
    std::string profile = kvtest::readText(KVPRTSIM_DEFAULT_PROFILE);
    const size_t contact = profile.find("{\"id\": \"02 05\"");
    ASSERT_NE(contact, std::string::npos);
    profile.erase(contact, profile.find('\n', contact) - contact);
    std::ofstream(dir.file("profile.json")) << profile;
    const std::string port = std::to_string(kvtest::freePort());
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--pjl-listen", "127.0.0.1:" + port, "--profile", dir.file("profile.json")});
    Opened printer("net://127.0.0.1?protocols=pjl&timeout=1000&pjl-port=" + port);
    ASSERT_EQ(printer.rc, 0) << BceLastOpenError();
    ASSERT_EQ(ask(printer.handle, kvbidi::kReadOMVar, kvtest::hex("01 01")).first, 0);
    daemon.stop();
    EXPECT_EQ(std::tuple(ask(printer.handle, kvbidi::kReadOMVar, kvtest::hex("02 05")).first,
                         ask(printer.handle, kvbidi::kSetOMVar, kvtest::hex("02 05 41")).first,
                         ask(printer.handle, kvbidi::kReadOMVar, kvtest::hex("02 04")).first),
              std::tuple(BCE_E_INVALID, BCE_E_INVALID, BCE_E_CHANNEL_DOWN));
}
