// Profiles: the built-in one loads; a malformed one is refused with a message
// that names the field.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "kvprtobj/kvprtsim.h"
#include "sim/profile.h"
#include "temp_dir.h"

using kvsim::SimPrinter;

TEST(SimProfile, BuiltInProfileLoadsAndEmptyProfileIsAPlainBidiPrinter) {
    ASSERT_TRUE(SimPrinter::fromDefault());
    EXPECT_EQ(SimPrinter::fromDefault()->name(), "simlaser");

    std::string error;
    auto empty = SimPrinter::fromJson(R"({"_comment": "comments are allowed", "storageDevices": []})", &error);
    ASSERT_TRUE(empty) << error;
    PRTINFO info{};
    ASSERT_EQ(empty->getPrtInfo(&info, 0), 0);
    EXPECT_EQ(info.usFlags, PRTINFO_BIDI_CAPABLE);
    EXPECT_EQ(empty->variable(0x004D), std::vector<uint8_t>{0});   // every panel has its lock
}

TEST(SimProfile, MalformedProfilesAreRefusedNamingTheField) {
    struct Case {
        const char* json;
        const char* message;
    } cases[] = {
        {R"({"colour": 1})", "colour: unknown field"},
        {R"({"inputBins": [{"number": 1}, {"number": 300}]})", "inputBins[1].number: expected a number from 0 to 255"},
        {R"({"pageCounts": [{"type": -1, "count": 1}]})", "pageCounts[0].type: expected an unsigned number"},
        {R"({"names": [{"netType": 2}]})", "names[0].name: missing"},
        {R"({"variables": [{"id": "00 4D"}, {"id": "004D"}]})", "variables[1].id: variable id used twice"},
        {R"({"variables": [{"id": "00 4D", "value": {"u8": 1, "be16": 2}}]})", "variables[0].value: expected exactly one"},
        {R"({"variables": [{"id": "00 4D", "value": {"hex": "0G"}}]})", "variables[0].value.hex: expected hexadecimal"},
        {R"({"identity": {"adapterAddress": "00:0A"}})", "identity.adapterAddress: expected six bytes"},
        {R"({"identity": {"netTypes": [3]}})", "identity.netTypes[0]: expected one of the network types"},
        {R"({"deviceChars": {"text1": "\u20ac"}})", "deviceChars.text1: has characters outside ISO 8859-1"},
        {R"({"panel": {"width": 4, "text": ["toolong"]}})", "panel.text[0]: longer than 4 characters"},
        {R"({"panel": {"text": ["\u2603"]}})", "panel.text[0]: has characters outside code page 850"},
        {R"({"jobs": [{"number": 0}]})", "jobs[0].number: job number 0"},
        {R"({"toner": {"format": 3}})", "toner.format: expected 1 or 2"},
        {R"({"fonts": {"list": [{"tag": "0xFE", "tag2": 255}]}})", "fonts.list[0]: tag FE with tag2 FF"},
        {R"({"fonts": {"list": [{"tag": 1, "height": -1}]}})", "fonts.list[0].height: expected a number from 0"},
        {R"({"alerts": [{"family": "weather"}]})", "alerts[0].family: expected deviceStatus"},
        {R"({"alerts": [{"family": "deviceStatus", "status": [1, 2]}]})", "alerts[0].status: expected three"},
        {R"([1, 2])", "profile: expected an object"},
        {R"({"name": )", "not valid JSON"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(SimPrinter::fromJson(c.json, &error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.json << " gave: " << error;
    }
}

TEST(SimProfile, EngineOpensProfileFilesAndReportsWhyOneIsRefused) {
    char path[] = "/tmp/kvprtsim-profile-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(path) << R"({"inputBins": [{"number": "0x100"}]})";
    unsigned short handle = 0;
    EXPECT_EQ(BceOpenPrinter((std::string("sim:") + path).c_str(), &handle), BCE_E_BAD_URI);
    EXPECT_NE(std::string(BceLastOpenError()).find("inputBins[0].number"), std::string::npos) << BceLastOpenError();

    std::ofstream(path) << R"({"name": "tiny", "ports": [1]})";
    ASSERT_EQ(BceOpenPrinter((std::string("sim:") + path).c_str(), &handle), 0) << BceLastOpenError();
    uint8_t reply[16];
    unsigned long length = sizeof reply;
    ASSERT_EQ(BceSendBidi(0, handle, 0, 0x9B, reply, &length, nullptr, 0), 0);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(reply[2], 1);
    BceClosePrinter(handle);
    std::remove(path);

}

// Profiles are read only from regular files of bounded size, never waited on.
TEST(SimProfile, OnlyRegularFilesUpToTheLimitAreRead) {
    kvtest::TempDir dir;
    const std::string fifo = dir.file("fifo"), large = dir.file("large.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(large) << std::string(kvsim::kMaxProfileSize, ' ') << "{}";
    const std::pair<std::string, const char*> refused[] = {
        {"/nonexistent/profile.json", "cannot read the profile: No such file or directory"},
        {dir.file(""), "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {fifo, "not a regular file"},
        {large, "larger than 4 MiB"},
    };
    for (const auto& [path, message] : refused) {
        unsigned short handle = 0;
        EXPECT_EQ(BceOpenPrinter(("sim:" + path).c_str(), &handle), BCE_E_BAD_URI) << path;
        EXPECT_NE(std::string(BceLastOpenError()).find(message), std::string::npos) << BceLastOpenError();
    }
    EXPECT_EQ(WEXITSTATUS(std::system(KVPRTSIMD " --profile /dev/zero 2>/dev/null")), 2);
}
