// kvprt given what it must not trust: files at a receive's target, signals
// while it opens a printer, printers that fail half-way. (Command-line input,
// a printer's hostile texts, header-word files and paths not in UTF-8 are in
// the transcripts refusals.golden.md and kvprt.golden.md, which
// docs_examples_test runs.)
#include <algorithm>
#include <csignal>
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
