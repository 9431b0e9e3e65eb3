// kvprt run as a program: what its commands print, compared whole with
// golden files; --fleet on printers of which one is down; the programs'
// versions. The documented examples and the transcript of the programs'
// refusals (refusals.golden.md) run in docs_examples_test.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "run_kvprt.h"
#include "sim_daemon.h"
#include "tools/kvprt/texts.h"

namespace {

using nlohmann::json;
using kvtest::Outcome;
using kvtest::runKvprt;
using kvtest::SimDaemon;

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// commands.golden.json: a command line -> its JSON, each on a printer of its
// own; the commands that change the printer, and those the report and the
// documented examples do not show.
TEST(Kvprt, EveryCommandOnAPrinterOfItsOwn) {
    const json golden = json::parse(kvtest::readText(KVPRT_GOLDEN_DIR "/commands.golden.json"));
    for (const auto& [line, expected] : golden.items()) {
        std::vector<std::string> args = words("--json --printer sim: " + line);
        Outcome run = runKvprt(args);
        ASSERT_EQ(run.status, 0) << line << ": " << run.err;
        EXPECT_EQ(run.parsed(), expected) << line;
    }
}

// The report holds what every reading command shows: the same on the
// embedded printer and over TCP, and for people.
TEST(Kvprt, ReportOnTheEmbeddedPrinterAndOverTcp) {
    SimDaemon daemon(KVPRTSIMD, {});
    json expected = json::parse(kvtest::readText(KVPRT_GOLDEN_DIR "/report.golden.json"));
    for (const std::string& uri : {std::string("sim:"), daemon.uri()}) {
        expected["printer"]["uri"] = uri;
        Outcome run = runKvprt({"--json", "--printer", uri, "report"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.parsed(), expected) << uri;
    }
    Outcome run = runKvprt({"report"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kvtest::readText(KVPRT_GOLDEN_DIR "/report.golden.txt"));
}

// --version names the program and the libraries of ours it loaded. (The
// programs' refusals, each with its status and message, are in the
// transcript refusals.golden.md, which docs_examples_test runs.)
TEST(Programs, VersionNamesTheLibrariesLoaded) {
    const std::pair<const char*, const char*> programs[] = {
        {KVPRT_BINARY, "libkvprtobj"}, {KVPRTSIMD, "libkvprtsim"}, {KVPRTD, "libkvprtobj"}};
    for (auto [program, library] : programs) {
        Outcome run = kvtest::runProgram(program, {"--version"});
        const std::string name = std::filesystem::path(program).filename();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind(name + " " KVPO_VERSION "\n" + library + " " KVPO_VERSION " from /", 0), 0u) << run.out;
    }
}

// Every alert id the decoders produce has a text of its own.
TEST(KvprtTexts, EveryProducedIdHasItsText) {
    // Ranges of produced ids, first to last.
    const std::pair<unsigned, unsigned> ranges[] = {{6102, 6108}, {6113, 6115}, {6117, 6141}, {6164, 6164}, {6166, 6169},
                                                    {6171, 6178}, {6182, 6184}, {6188, 6188}, {6190, 6204}, {6208, 6209},
                                                    {6219, 6224}, {6226, 6257}};
    for (auto [first, last] : ranges)
        for (unsigned id = first; id <= last; ++id) EXPECT_TRUE(kvprt::knownAlert(id)) << id;
    EXPECT_EQ(kvprt::alertText(6209, 0x0203), "Input source 2: state 3");
    EXPECT_EQ(kvprt::alertText(6113, 4), "Input source 4 is empty");
    for (unsigned id = 7101; id <= 7112; ++id) EXPECT_NE(kvprt::inputBinText(id), kvprt::inputBinText(0)) << id;
    for (unsigned id = 7203; id <= 7224; ++id) EXPECT_NE(kvprt::outputBinText(id), kvprt::outputBinText(0)) << id;
    EXPECT_NE(kvprt::outputBinText(7201), kvprt::outputBinText(0));   // 7202 is given to no bin
    for (unsigned code = 7701; code <= 7710; ++code) EXPECT_NE(kvprt::componentText(code), kvprt::componentText(0));
}

// A fleet: printers up0 and up1 of one daemon, and down, whose daemon was killed.
struct Fleet {
    explicit Fleet(std::vector<std::string> daemonArgs = {}) : up(KVPRTSIMD, withCopies(std::move(daemonArgs))) {
        SimDaemon gone(KVPRTSIMD, {});
        gone.kill();
        kvtest::writeText(file, "[[printer]]\nname = \"up0\"\nuri = \"" + up.uri("0") + "\"\n[[printer]]\nname = \"up1\"\nuri = \"" +
                                    up.uri("1") + "\"\n[[printer]]\nname = \"down\"\nuri = \"" + gone.uri("0") + "\"\n");
    }
    static std::vector<std::string> withCopies(std::vector<std::string> args) {
        args.insert(args.end(), {"--copies", "2"});
        return args;
    }
    Outcome run(std::vector<std::string> args, int signal = 0, int afterMs = 0) const {
        args.insert(args.begin(), {"--fleet", file});
        return runKvprt(args, signal, afterMs);
    }

    kvtest::TempDir dir;
    const std::string file = dir.file("fleet.toml");
    SimDaemon up;
};

// Every command on each printer of the fleet, the down one failing, in JSON.
// The output for people, and --printer given several times, are in the
// documented examples; the command lines a fleet cannot run in refusals.golden.md.
TEST(KvprtFleet, EveryCommandRunsOnEachPrinterAndTheDownOneFails) {
    Fleet fleet;
    // A command that reads, two that change the printers, the per-printer file of a Quick Setup.
    const std::pair<std::string, std::string> commands[] = {
        {"report", "jobs"}, {"status", "alerts"}, {"jobs delete 12", "deleted"}, {"var set 0754 41", "variables"},
        {"qs receive " + fleet.dir.file("{printer}.qsf"), "quickSetup"}, {"qs send " + fleet.dir.file("up0.qsf"), "quickSetup"},
    };
    for (const auto& [line, key] : commands) {
        SCOPED_TRACE(line);
        Outcome run = fleet.run(words("--json " + line));
        EXPECT_EQ(run.status, 1);
        json all = json::parse(run.out, nullptr, false);
        ASSERT_TRUE(all.is_array() && all.size() == 3) << run.out << run.err;
        for (int i : {0, 1}) {
            EXPECT_EQ(all[i]["printer"], "up" + std::to_string(i));
            EXPECT_EQ(all[i]["ok"], true) << all[i].dump();
            EXPECT_TRUE(all[i]["result"].contains(key)) << all[i].dump();
        }
        EXPECT_EQ(all[2], (json{{"printer", "down"}, {"ok", false}, {"error", all[2]["error"]}}));
        EXPECT_EQ(all[2]["error"]["code"], -10);
        EXPECT_NE(run.err.find("2 ok, 1 failed\n  down: BceGetPrtInfo: -10"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(std::filesystem::exists(fleet.dir.file("up1.qsf")));
    EXPECT_FALSE(std::filesystem::exists(fleet.dir.file("down.qsf")));

}

TEST(KvprtFleet, SigtermStopsEveryPrinterAndSaysSo) {
    Fleet fleet({"--delay-ms", "3000"});   // each printer's first answer takes 3 s
    auto started = std::chrono::steady_clock::now();
    Outcome run = fleet.run({"--json", "status"}, SIGTERM, 500);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(run.status, 130);
    json all = json::parse(run.out);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["ok"], false);
    EXPECT_NE(run.err.find("0 ok, 3 failed"), std::string::npos) << run.err;
}

}  // namespace
