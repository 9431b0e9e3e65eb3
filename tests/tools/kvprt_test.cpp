// kvprt run as a program: its report against a golden file, the commands
// that change the printer against the built-in profile, and the error cases
// on the embedded printer and over TCP. The documented examples (Quick Setup
// between two printers, watch, the errors the documents show) run in
// docs_examples_test.
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "run_kvprt.h"
#include "sim_daemon.h"
#include "temp_dir.h"
#include "tests/sim/profile_json.h"
#include "tools/kvprt/texts.h"

namespace {

using simtest::json;

using kvtest::Outcome;

Outcome kvprt(const std::vector<std::string>& args) { return kvtest::runKvprt(args); }

Outcome kvprtJson(const std::string& uri, std::vector<std::string> args) {
    args.insert(args.begin(), {"--json", "--printer", uri});
    return kvprt(args);
}

const json& profile() { return simtest::defaultProfile(); }
std::string str(const json& v) { return v.get<std::string>(); }

// One row per command the report and the documented examples do not show:
// its arguments and what its JSON must hold. Each row has a printer of its own.
struct CommandRow {
    const char* name;
    std::vector<std::string> args;
    void (*check)(const json& out);
};

const CommandRow kCommands[] = {
    {"fonts", {"fonts"}, [](const json& out) {
         EXPECT_EQ(out["fonts"]["list"].size(), profile()["fonts"]["list"].size());
         EXPECT_EQ(out["fonts"]["current"]["symbolSet"], profile()["currentFont"]["symbolSet"]);
         EXPECT_EQ(out["fonts"]["current"]["size"], profile()["currentFont"]["size"]);
     }},
    {"symbolsets", {"symbolsets"}, [](const json& out) {
         ASSERT_EQ(out["symbolSets"].size(), profile()["symbolSets"].size());
         for (const char* key : {"id", "name", "complement"}) EXPECT_EQ(out["symbolSets"][0][key], profile()["symbolSets"][0][key]);
     }},
    {"ports", {"ports"}, [](const json& out) { EXPECT_EQ(out["ports"], profile()["ports"]); }},
    {"toner reset-count", {"toner", "reset-count"}, [](const json& out) {
         EXPECT_EQ(out["toner"][0]["basePageCount"], out["toner"][0]["pageCount"]);
     }},
    {"pagecounts reset-host", {"pagecounts", "reset-host"}, [](const json& out) {
         EXPECT_EQ(out["pageCounts"]["type" + std::to_string(profile()["hostPageCountType"].get<int>())], 0);
     }},
    {"jobs delete", {"jobs", "delete", "13"}, [](const json& out) { EXPECT_EQ(out["deleted"], 13); }},
    {"jobs priority", {"jobs", "priority", "13", "9"}, [](const json& out) { EXPECT_EQ(out["answer"], 0); }},
    {"panel lock", {"panel", "lock"}, [](const json& out) {
         EXPECT_EQ(out["panel"]["lines"], profile()["panel"]["lockedText"]);
         EXPECT_EQ(out["panel"]["locked"], true);
     }},
    {"panel continue", {"panel", "continue"}, [](const json& out) { EXPECT_TRUE(out.contains("panel")); }},
    {"loopback", {"loopback"}, [](const json& out) { EXPECT_EQ(out["loopback"], true); }},
    {"offline", {"offline"}, [](const json& out) { EXPECT_EQ(out["remote"], "offline"); }},
    {"online", {"online"}, [](const json& out) { EXPECT_EQ(out["remote"], "online"); }},
    {"storage rm", {"storage", "rm", "flash", "fonts/ocr-b.ttf"},
     [](const json& out) { EXPECT_EQ(out["deleted"], "fonts/ocr-b.ttf"); }},
    {"storage format", {"storage", "format", "disk"}, [](const json& out) { EXPECT_EQ(out["formatted"], "disk"); }},
};

TEST(Kvprt, EveryCommandOnAPrinterOfItsOwn) {
    for (const CommandRow& row : kCommands) {
        SCOPED_TRACE(row.name);
        Outcome run = kvprtJson("sim:", row.args);
        ASSERT_EQ(run.status, 0) << run.err;
        row.check(run.parsed());
    }
}

// The report holds what every reading command shows: the same on the
// embedded printer and over TCP, compared whole with report.golden.json.
TEST(Kvprt, ReportOnTheEmbeddedPrinterAndOverTcp) {
    kvtest::SimDaemon daemon(KVPRTSIMD, {});
    json expected = json::parse(kvtest::readText(KVPRT_REPORT_GOLDEN));
    for (const std::string& uri : {std::string("sim:"), daemon.uri()}) {
        expected["printer"]["uri"] = uri;
        Outcome run = kvprtJson(uri, {"report"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.parsed(), expected) << uri;
    }
}

TEST(Kvprt, ReportForPeopleNamesEverySection) {
    Outcome run = kvprt({"report"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* heading : {"Printer", "Code levels", "Input bins", "Alerts", "Toner", "Jobs"})
        EXPECT_NE(("\n" + run.out).find(std::string("\n") + heading + "\n"), std::string::npos) << heading;
    EXPECT_NE(run.out.find(str(profile()["identity"]["model"])), std::string::npos);
}

// The programs alike at a shell: --version names the program and the
// libraries it loaded, a usage error is status 2 and names the word at fault
// after the program's name, help lists what applies to the command.
TEST(Programs, BehaveAlikeAtAShell) {
    struct Row {
        const char* program;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> out, err;   // each in standard output, standard error
    };
    const std::string version = KVPO_VERSION;
    const Row rows[] = {
        {KVPRT_BINARY, {"--version"}, 0, {"kvprt " + version + "\n", "\nlibkvprtobj " + version + " from /"}, {}},
        {KVPRTSIMD, {"--version"}, 0, {"kvprtsimd " + version + "\n", "\nlibkvprtsim " + version + " from /"}, {}},
        {KVPRTD, {"--version"}, 0, {"kvprtd " + version + "\n", "\nlibkvprtobj " + version + " from /"}, {}},
        {KVPRT_BINARY, {"qs", "--help"}, 0, {"Global options:", "--json", "[?timeout=MS]"}, {}},
        {KVPRTSIMD, {"--frob"}, 2, {}, {"kvprtsimd: ", "--frob"}},
        {KVPRTSIMD, {"--copies", "0"}, 2, {}, {"kvprtsimd: --copies: "}},
        {KVPRTSIMD, {"--listen", "[::1]"}, 2, {}, {"kvprtsimd: --listen expects HOST:PORT or [IPV6]:PORT"}},
        {KVPRTD, {"--fleet", "f.toml", "--frob"}, 2, {}, {"kvprtd: '--frob' is not an option of kvprtd"}},
        {KVPRTD, {"--fleet", "f.toml", "--shard", "3/2"}, 2, {}, {"kvprtd: --shard: expected K/N"}},
    };
    for (const Row& row : rows) {
        Outcome run = kvtest::runProgram(row.program, row.args);
        SCOPED_TRACE(std::string(row.program) + " " + row.args[0]);
        EXPECT_EQ(run.status, row.status);
        for (const std::string& text : row.out) EXPECT_NE(run.out.find(text), std::string::npos) << run.out;
        for (const std::string& text : row.err) EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
        if (!row.err.empty()) {
            EXPECT_EQ(run.err.rfind(row.err[0], 0), 0u) << run.err;   // the program's name first
        }
    }
}

TEST(Kvprt, ErrorsNameTheOperationAndTheCode) {
    kvtest::TempDir dir;
    const std::string notQsf = dir.file("not.qsf");
    std::ofstream(notQsf) << "not a Quick Setup file";
    struct ErrorRow {
        std::vector<std::string> args;
        int status;
        const char* message;   // in standard error
    };
    const ErrorRow rows[] = {
        {{}, 2, "kvprt needs a command"},
        {{"qs", "frob"}, 2, "'frob' is not a command of kvprt qs"},
        {{"qs"}, 2, "kvprt qs needs a command"},
        {{"report", "--bogus"}, 2, "'--bogus' is not an option of kvprt report"},
        {{"storage", "ls", "flash", "extra"}, 2, "'extra' is one argument too many for kvprt storage ls"},
        {{"jobs", "delete", "999"}, 1, "bidiDeleteJob: -3 (invalid request or data)"},
        {{"qs", "send", notQsf}, 1, "bidiQuickSetupSend: 2 (not a Quick Setup file for this printer type)"},
        {{"watch", "--timeout", "0.3"}, 1, "BceWaitAlert: -24 (no alert arrived in time)"},
        {{"var", "get", "01"}, 2, "a variable id is two bytes"},
        {{"storage", "rm", "disk", "no such file"}, 1, "bidiDeviceDeleteFile: -31 (no such file on the storage device)"},
        {{"storage", "ls", "tape"}, 2, "a device is flash or disk"},
        // Numbers are decimal, or hexadecimal after 0x; a leading zero is no octal.
        {{"jobs", "delete", "015"}, 1, "bidiDeleteJob: -3"},   // no job 15 (as octal, 13 would be deleted)
        {{"jobs", "delete", "0x0E"}, 0, ""},
        {{"panel", "press", "08"}, 0, ""},
        {{"jobs", "delete", "1e3"}, 2, "job: '1e3' is not a number (decimal, or hexadecimal after 0x)"},
        {{"panel", "press", "0x1G"}, 2, "'0x1G' is not a number"},
        {{"watch", "--timeout", "0"}, 2, "--timeout: expected seconds above 0"},
        {{"watch", "--timeout", "-1"}, 2, "--timeout: expected seconds above 0"},
        {{"watch", "--timeout", "nan"}, 2, "--timeout: expected seconds above 0"},
        {{"watch", "--timeout", "inf"}, 2, "--timeout: expected seconds above 0"},
        {{"watch", "--timeout", "1e20"}, 2, "--timeout: expected seconds above 0 and at most 1000000"},
        {{"storage", "rm", "disk", ""}, 2, "a file name has 1 to 255 characters"},
        {{"storage", "rm", "disk", std::string(256, 'x')}, 2, "a file name has 1 to 255 characters"},
        {{"storage", "rm", "disk", "a\x1B"}, 2, "may not hold control characters"},
        // Files: what was wrong, in the system's words.
        {{"--printer", "sim:/tmp", "status"}, 1, "/tmp: not a regular file"},
        {{"--printer", "sim:/dev/zero", "status"}, 1, "/dev/zero: not a regular file"},
    };
    // The printer's refusals alike on the embedded printer and over TCP.
    kvtest::SimDaemon daemon(KVPRTSIMD, {});
    for (const ErrorRow& row : rows) {
        SCOPED_TRACE(row.message);
        std::vector<std::vector<std::string>> runs = {row.args};
        if (row.status == 1 && row.args[0] != "--printer") {
            runs.push_back({"--printer", daemon.uri()});
            runs.back().insert(runs.back().end(), row.args.begin(), row.args.end());
        }
        for (const auto& args : runs) {
            Outcome run = kvprt(args);
            EXPECT_EQ(run.status, row.status) << args[0];
            EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        }
    }
    // A report shows what it can: the failed section holds its error.
    const std::string empty = dir.file("empty.json");
    std::ofstream(empty) << "{}";
    Outcome report = kvprtJson("sim:" + empty, {"report"});
    EXPECT_EQ(report.status, 1);
    EXPECT_EQ(report.parsed()["codeLevels"]["error"]["operation"], "bidiGetCodeLevels");
    EXPECT_EQ(report.parsed()["jobs"], json::array());

    // With --json the error is an object on standard output too; on one line
    // where the command writes JSON Lines.
    Outcome run = kvprtJson("lpd://printer", {"info"});
    EXPECT_EQ(run.parsed()["error"]["code"], -22);
    EXPECT_EQ(run.parsed()["error"]["operation"], "BceOpenPrinter");
    Outcome lines = kvprtJson("sim:", {"watch", "--timeout", "0.1"});
    EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 1) << lines.out;
    EXPECT_EQ(lines.parsed()["error"]["code"], -24);
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

}  // namespace
