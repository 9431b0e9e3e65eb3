// kvprt given what it must not trust: texts a printer sends, files at a
// receive's target, signals while it opens a printer, printers that fail
// half-way. (Command-line input is checked in kvprt_test's error table.)
#include <algorithm>
#include <csignal>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "run_kvprt.h"
#include "sim_daemon.h"
#include "tests/sim/profile_json.h"

namespace {

using kvtest::Outcome;
using kvtest::runKvprt;
using kvtest::SimDaemon;
using kvtest::writeText;
using nlohmann::json;

bool hasControls(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return (c < 0x20 && c != '\n') || c == 0x7F; }) ||
           text.find("\xC2\x9B") != std::string::npos;   // U+009B, a C1 control
}

// A printer whose texts carry escape sequences (a cleared screen, a window title).
const char kHostileProfile[] = R"({
  "identity": {"model": "\u001b[31;1mRED\u001b]0;pwned\u0007\u001b[2J"},
  "inputBins": [{"number": 1, "capacity": 1, "sizeCode": 2, "name": "Tray\u001b[2J"}],
  "formNames": [{"number": 1, "name": "Form\u0007\u009b"}],
  "jobs": [{"number": 12, "info1": "JN=job\u001b[2J;UR=eve"}],
  "panel": {"width": 20, "height": 2, "text": ["READY\u001b[2J\u001b[2J\u001b[2J", "x"]},
  "alerts": [
    {"name": "deleted", "family": "raw", "code": 1537, "data": "03 A0 03 01 00 03 61 1B 62"},
    {"name": "panel", "family": "operatorPanel", "text": ["NOT\u001b[2J", ""]}
  ]
})";

TEST(KvprtUntrusted, PrinterTextsReachTheTerminalAsText) {
    kvtest::TempDir dir;
    const std::string profile = dir.file("hostile.json");
    writeText(profile, kHostileProfile);
    Outcome run;
    for (const char* command : {"info", "bins", "jobs", "panel show"}) {
        std::istringstream words(std::string("-p sim:") + profile + " " + command);
        run = runKvprt({std::istream_iterator<std::string>(words), {}});
        ASSERT_EQ(run.status, 0) << command << run.err;
        EXPECT_FALSE(hasControls(run.out)) << command << ":\n" << run.out;
        EXPECT_NE(run.out.find("\\x1B[2J"), std::string::npos) << command << ":\n" << run.out;
    }
    // The panel box (shown last) keeps its shape around an escaped line longer than the panel.
    std::istringstream box(run.out);
    std::string line, rule;
    for (std::getline(box, rule); std::getline(box, line) && line[2] == '|';) EXPECT_EQ(line.size(), rule.size());

    SimDaemon daemon(KVPRTSIMD, {"--profile", profile, "--raise-alerts-ms", "20"});
    Outcome watched = runKvprt({"-p", daemon.uri(), "watch", "--count", "2", "--timeout", "10"});
    ASSERT_EQ(watched.status, 0) << watched.err;
    EXPECT_FALSE(hasControls(watched.out)) << watched.out;
    EXPECT_NE(watched.out.find("(device management): a\\x1Bb deleted from flash"), std::string::npos) << watched.out;
}

TEST(KvprtUntrusted, QuickSetupReceiveLeavesWhatIsAtItsTarget) {
    kvtest::TempDir dir;
    const std::string existing = dir.file("existing.qsf");
    writeText(existing, "ORIGINAL");
    json profile = simtest::defaultProfile();   // without variable 01 08, which a receive reads
    auto& variables = profile["variables"];
    variables.erase(std::remove_if(variables.begin(), variables.end(), [](const json& v) { return v["id"] == "01 08"; }),
                    variables.end());
    writeText(dir.file("miss.json"), profile.dump());

    SimDaemon slow(KVPRTSIMD, {"--delay-ms", "200"});   // the printer opens in about 1 s, the receive takes 4
    struct Row {
        std::vector<std::string> args;
        int signalAfterMs;   // SIGINT then
        const char* message;
    } rows[] = {
        {{"qs", "receive", existing}, 0, "existing.qsf exists (--force replaces it)"},
        {{"-p", "sim:" + dir.file("miss.json"), "qs", "receive", "--force", existing}, 0, "33 (the printer refused"},
        {{"-p", slow.uri(), "qs", "receive", "--force", existing}, 1800, "stopped"},
    };
    for (const Row& row : rows) {
        Outcome run = runKvprt(row.args, row.signalAfterMs ? SIGINT : 0, row.signalAfterMs);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(kvtest::readText(existing), "ORIGINAL");
    }
    EXPECT_EQ(runKvprt({"qs", "receive", "--force", existing}).status, 0);
    EXPECT_EQ(kvtest::readText(existing).substr(0, 2), "QS");
}

// A path typed in another encoding than UTF-8 still gives JSON.
TEST(KvprtUntrusted, BytesThatAreNotUtf8StillGiveJson) {
    kvtest::TempDir dir;
    Outcome run = runKvprt({"--json", "qs", "receive", dir.file("caf\xE9.qsf")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.parsed()["quickSetup"]["file"], dir.file("caf\uFFFD.qsf"));
}

// A header-word file does not tell how many variables it holds: no total is claimed.
TEST(KvprtUntrusted, HeaderWordSendCountsWithoutATotal) {
    kvtest::TempDir dir;
    writeText(dir.file("settings.txt"), std::string("BIDI\x01\x06\x0C:\x01\x02\x03:\x01\x03\x01:", 16));
    Outcome run = runKvprt({"--json", "qs", "send", dir.file("settings.txt")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.parsed()["quickSetup"]["steps"], nullptr);
    EXPECT_EQ(run.parsed()["quickSetup"]["progress"], 3);
    EXPECT_EQ(run.err, "send: 1\nsend: 2\nsend: 3\n");
}

TEST(KvprtUntrusted, ATerminationWhileThePrinterOpensIsSaid) {
    SimDaemon slow(KVPRTSIMD, {"--delay-ms", "3000"});
    Outcome run = runKvprt({"-p", slow.uri(), "qs", "receive", "x.qsf"}, SIGTERM, 300);
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, "kvprt: terminated (SIGTERM)\n");
}

// Each section refused with -11 names the failure that took bidi down.
TEST(KvprtUntrusted, TheFailureThatTookBidiDownIsNamed) {
    const std::pair<const char*, const char*> faults[] = {{"--garbage-every", "bad reply (-2)"}, {"--drop-every", "was reset (-16)"}};
    for (auto [fault, named] : faults) {
        SimDaemon daemon(KVPRTSIMD, {fault, "5"});
        Outcome run = runKvprt({"-p", daemon.uri(), "report"});
        EXPECT_EQ(run.status, 1);
        std::istringstream lines(run.err);
        int refusals = 0;
        for (std::string line; std::getline(lines, line);)
            if (line.find("-11 (bidi is not active") != std::string::npos && ++refusals) {
                EXPECT_NE(line.find(named), std::string::npos) << line;
            }
        EXPECT_GT(refusals, 0) << fault << ":\n" << run.err;
    }
    SimDaemon dropping(KVPRTSIMD, {"--drop-every", "1"});
    EXPECT_NE(runKvprt({"-p", dropping.uri(), "info"}).err.find("-16 (bidi channel down: the connection was reset): the printer at " +
                                                                 dropping.uri() + " could not give its information"),
              std::string::npos);
}

}  // namespace
