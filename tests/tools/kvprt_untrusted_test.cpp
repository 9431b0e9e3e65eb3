// kvprt given what it must not trust: texts a printer sends, files at a
// receive's target, signals while it opens a printer, printers that fail
// half-way. (Command-line input is checked in kvprt_test's error table.)
#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "qsf_image.h"
#include "run_kvprt.h"
#include "sim_daemon.h"
#include "temp_dir.h"
#include "tests/sim/profile_json.h"

namespace {

using kvtest::Outcome;
using kvtest::runKvprt;
using nlohmann::json;

bool hasControls(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
    return text.find("\xC2\x9B") != std::string::npos;   // U+009B, a C1 control
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
    std::ofstream(profile) << kHostileProfile;
    for (std::vector<std::string> args : {std::vector<std::string>{"info"}, {"bins"}, {"jobs"}, {"panel", "show"}}) {
        args.insert(args.begin(), {"-p", "sim:" + profile});
        Outcome run = runKvprt(args);
        ASSERT_EQ(run.status, 0) << args[2] << run.err;
        EXPECT_FALSE(hasControls(run.out)) << args[2] << ":\n" << run.out;
        EXPECT_NE(run.out.find("\\x1B[2J"), std::string::npos) << args[2] << ":\n" << run.out;
    }
    // The panel box keeps its shape around an escaped line longer than the panel.
    std::istringstream box(runKvprt({"-p", "sim:" + profile, "panel", "show"}).out);
    std::string line, rule;
    for (std::getline(box, rule); std::getline(box, line) && line[2] == '|';) EXPECT_EQ(line.size(), rule.size());

    kvtest::SimDaemon daemon(KVPRTSIMD, {"--profile", profile, "--raise-alerts-ms", "20"});
    Outcome watched = runKvprt({"-p", daemon.uri(), "watch", "--count", "2", "--timeout", "10"});
    ASSERT_EQ(watched.status, 0) << watched.err;
    EXPECT_FALSE(hasControls(watched.out)) << watched.out;
    EXPECT_NE(watched.out.find("(device management): a\\x1Bb deleted from flash"), std::string::npos) << watched.out;
}

TEST(KvprtUntrusted, QuickSetupReceiveLeavesWhatIsAtItsTarget) {
    kvtest::TempDir dir;
    const std::string existing = dir.file("existing.qsf");
    std::ofstream(existing) << "ORIGINAL";
    json profile = simtest::defaultProfile();   // without variable 01 08, which a receive reads
    auto& variables = profile["variables"];
    variables.erase(std::remove_if(variables.begin(), variables.end(), [](const json& v) { return v["id"] == "01 08"; }),
                    variables.end());
    std::ofstream(dir.file("miss.json")) << profile.dump();

    struct Row {
        std::vector<std::string> args;
        const char* message;
    } rows[] = {
        {{"qs", "receive", existing}, "existing.qsf exists (--force replaces it)"},
        {{"-p", "sim:" + dir.file("miss.json"), "qs", "receive", "--force", existing}, "33 (the printer refused"},
    };
    for (const Row& row : rows) {
        Outcome run = runKvprt(row.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(kvtest::readText(existing), "ORIGINAL");
    }
    // Stopped by a signal half-way: the same.
    kvtest::SimDaemon slow(KVPRTSIMD, {"--delay-ms", "200"});   // the printer opens in about 1 s, the receive takes 4
    Outcome stopped = runKvprt({"-p", slow.uri(), "qs", "receive", "--force", existing}, SIGINT, 1800);
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_NE(stopped.err.find("stopped"), std::string::npos) << stopped.err;
    EXPECT_EQ(kvtest::readText(existing), "ORIGINAL");
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
    const std::string file = dir.file("settings.txt");
    kvtest::writeFile(file, kvtest::Bytes()
                                .text("BIDI")
                                .be16(0x0106).u8(0x0C).text(":")
                                .be16(0x0102).u8(0x03).text(":")
                                .be16(0x0103).u8(0x01).text(":")
                                .vec());
    Outcome run = runKvprt({"--json", "qs", "send", file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.parsed()["quickSetup"]["steps"], nullptr);
    EXPECT_EQ(run.parsed()["quickSetup"]["progress"], 3);
    EXPECT_EQ(run.err, "send: 1\nsend: 2\nsend: 3\n");
}

TEST(KvprtUntrusted, ATerminationWhileThePrinterOpensIsSaid) {
    kvtest::SimDaemon slow(KVPRTSIMD, {"--delay-ms", "3000"});
    Outcome run = runKvprt({"-p", slow.uri(), "qs", "receive", "x.qsf"}, SIGTERM, 300);
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, "kvprt: terminated (SIGTERM)\n");
}

// Each section refused with -11 names the failure that took bidi down.
TEST(KvprtUntrusted, TheFailureThatTookBidiDownIsNamed) {
    const std::pair<const char*, const char*> faults[] = {{"--garbage-every", "bad reply (-2)"},
                                                          {"--drop-every", "was reset (-16)"}};
    for (const auto& [fault, named] : faults) {
        kvtest::SimDaemon daemon(KVPRTSIMD, {fault, "5"});
        Outcome run = runKvprt({"-p", daemon.uri(), "report"});
        EXPECT_EQ(run.status, 1);
        std::istringstream lines(run.err);
        int refusals = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("-11 (bidi is not active") == std::string::npos) continue;
            ++refusals;
            EXPECT_NE(line.find(named), std::string::npos) << line;
        }
        EXPECT_GT(refusals, 0) << fault << ":\n" << run.err;
    }
    kvtest::SimDaemon dropping(KVPRTSIMD, {"--drop-every", "1"});
    Outcome run = runKvprt({"-p", dropping.uri(), "info"});
    EXPECT_NE(run.err.find("-16 (bidi channel down: the connection was reset): the printer at " + dropping.uri() +
                           " could not give its information"),
              std::string::npos)
        << run.err;
}

}  // namespace
