// kvprt's Quick Setup receive leaves what is at its target when it fails.
// (Command-line input, a printer's hostile texts, printers that fail
// half-way, signals while a printer opens, header-word files and paths not in
// UTF-8 are in the transcripts refusals.golden.md and kvprt.golden.md, which
// docs_examples_test runs.)
#include <algorithm>
#include <csignal>

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

}  // namespace
