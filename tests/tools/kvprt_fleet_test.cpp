// kvprt --fleet FILE and --printer given several times: every command on two
// kvprtsimd printers and one whose daemon is gone.
#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "run_kvprt.h"
#include "sim_daemon.h"
#include "temp_dir.h"

namespace {

using kvtest::Outcome;
using kvtest::runKvprt;
using kvtest::SimDaemon;
using nlohmann::json;

// Printers up0 and up1 of one daemon, and down, whose daemon was killed.
struct Fleet {
    explicit Fleet(std::vector<std::string> daemonArgs = {}) : up(KVPRTSIMD, withCopies(std::move(daemonArgs))) {
        SimDaemon gone(KVPRTSIMD, {});
        downUri = gone.uri("0");
        gone.kill();
        std::ofstream(file()) << "[[printer]]\nname = \"up0\"\nuri = \"" << up.uri("0") << "\"\n"
                              << "[[printer]]\nname = \"up1\"\nuri = \"" << up.uri("1") << "\"\n"
                              << "[[printer]]\nname = \"down\"\nuri = \"" << downUri << "\"\n";
    }
    static std::vector<std::string> withCopies(std::vector<std::string> args) {
        args.insert(args.end(), {"--copies", "2"});
        return args;
    }
    std::string file() const { return dir.file("fleet.toml"); }
    Outcome run(std::vector<std::string> args, int signal = 0, int afterMs = 0) const {
        args.insert(args.begin(), {"--fleet", file()});
        return runKvprt(args, signal, afterMs);
    }

    kvtest::TempDir dir;
    SimDaemon up;
    std::string downUri;
};

// One fleet of two printers that answer and one that does not: every command
// on each, the down one failing, in JSON; the command lines a fleet cannot
// run. The output for people, and --printer given several times, are in the
// documented examples.
TEST(KvprtFleet, EveryCommandRunsOnEachPrinterAndTheDownOneFails) {
    Fleet fleet;
    const std::string qsf = fleet.dir.file("{printer}.qsf");
    // A command that reads, two that change the printers, the per-printer file of a Quick Setup.
    const std::vector<std::pair<std::vector<std::string>, std::string>> commands = {
        {{"report"}, "jobs"},
        {{"status"}, "alerts"},
        {{"jobs", "delete", "12"}, "deleted"},
        {{"var", "set", "0754", "41 42"}, "variables"},
        {{"qs", "receive", qsf}, "quickSetup"},
        {{"qs", "send", fleet.dir.file("up0.qsf")}, "quickSetup"},
    };
    for (auto [args, key] : commands) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        args.push_back("--json");
        Outcome run = fleet.run(args);
        EXPECT_EQ(run.status, 1);
        json all = json::parse(run.out, nullptr, false);
        ASSERT_TRUE(all.is_array() && all.size() == 3) << run.out << run.err;
        for (int i : {0, 1}) {
            EXPECT_EQ(all[i]["printer"], "up" + std::to_string(i));
            EXPECT_EQ(all[i]["ok"], true) << all[i].dump();
            EXPECT_TRUE(all[i]["result"].contains(key)) << all[i].dump();
        }
        EXPECT_EQ(all[2]["printer"], "down");
        EXPECT_EQ(all[2]["ok"], false);
        EXPECT_EQ(all[2]["error"]["code"], -10) << all[2].dump();
        EXPECT_FALSE(all[2].contains("result"));
        EXPECT_NE(run.err.find("2 ok, 1 failed\n  down: BceGetPrtInfo: -10"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(std::filesystem::exists(fleet.dir.file("up1.qsf")));
    EXPECT_FALSE(std::filesystem::exists(fleet.dir.file("down.qsf")));

    // Command lines a fleet cannot run.
    const std::string file = fleet.file();
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"--fleet", file, "-p", "sim:", "status"}, 2, "a fleet file and --printer exclude each other"},
        {{"--fleet", file, "watch", "--count", "1"}, 2, "watch follows one printer"},
        {{"--fleet", file, "qs", "receive", "settings.qsf"}, 2, "FILE needs {printer}"},
        {{"--fleet", file, "--jobs", "0", "status"}, 2, "--jobs"},
        {{"--fleet", fleet.dir.file("none.toml"), "status"}, 1, "none.toml: cannot be read"},
    };
    for (const auto& [args, status, said] : cases) {
        Outcome refused = runKvprt(args);
        EXPECT_EQ(refused.status, status) << args[2];
        EXPECT_NE(refused.err.find(said), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out, "");
    }

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
