// The simulated printer in process: a malformed profile is refused with a
// message that names the field, only regular files of bounded size are read;
// unknown requests and malformed data are refused. Its replies are checked
// through the library by the round trip.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kvprtobj/kvprtsim.h"
#include "bytes.h"
#include "sim/profile.h"
#include "temp_dir.h"

using kvsim::SimPrinter;

// Each line of profile_errors.golden is a profile, "=>", and the whole
// message it is refused with.
TEST(SimProfile, MalformedProfilesAreRefusedNamingTheField) {
    std::istringstream golden(kvtest::readText(KVPO_PROFILE_ERRORS_GOLDEN));
    std::string got;
    for (std::string line; std::getline(golden, line);) {
        const std::string json = line.substr(0, line.find(" => "));
        std::string error;
        EXPECT_FALSE(SimPrinter::fromJson(json, &error)) << json;
        got += json + " => " + error.substr(0, error.find(": [json.")) + "\n";   // not the parser's own words
    }
    EXPECT_EQ(got, kvtest::readText(KVPO_PROFILE_ERRORS_GOLDEN));
}

// Profiles are read only from regular files of bounded size, never waited
// on; the engine says why it refused one.
TEST(SimProfile, OnlyRegularFilesUpToTheLimitAreRead) {
    kvtest::TempDir dir;
    const std::string fifo = dir.file("fifo"), large = dir.file("large.json"), bad = dir.file("bad.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(large) << std::string(kvsim::kMaxProfileSize, ' ') << "{}";
    std::ofstream(bad) << R"({"inputBins": [{"number": "0x100"}]})";
    const std::pair<std::string, const char*> refused[] = {
        {bad, "inputBins[0].number"},
        {"/nonexistent/profile.json", "cannot read the profile: No such file or directory"},
        {fifo, "not a regular file"},   // a folder, /dev/zero: refusals.golden.md
        {large, "larger than 4 MiB"},
    };
    for (const auto& [path, message] : refused) {
        unsigned short handle = 0;
        EXPECT_EQ(BceOpenPrinter(("sim:" + path).c_str(), &handle), BCE_E_BAD_URI) << path;
        EXPECT_NE(std::string(BceLastOpenError()).find(message), std::string::npos) << BceLastOpenError();
    }
    EXPECT_EQ(WEXITSTATUS(std::system(KVPRTSIMD " --profile /dev/zero 2>/dev/null")), 2);
}

TEST(SimReplies, UnknownRequestsAndMalformedDataAreInvalid) {
    auto p = SimPrinter::fromDefault();
    struct Case {
        unsigned short code;
        kvtest::ByteVec request;
    } cases[] = {
        {0x99, {}},                            // no such request
        {0x01, {0}},                           // no data expected
        {0x02, {}},                            // one byte 00 expected
        {0x4E, {0x00}},                        // short id
        {0x4E, {0x12, 0x34}},                  // no such variable
        {0x4F, kvtest::hex("0F 01 41")},               // read-only variable
        {0x4F, kvtest::hex("12 34 41")},               // no such variable
        {0x56, {0x00, 0x4D}},                  // not a miscellaneous variable
        {0x40, {0x00, 0x01, 0x40}},            // button request starts 00 00
        {0x57, {0x00, 0xB2}},                  // neither reset nor continue
        {0x76, {0x00, 0x63}},                  // no such job
        {0x75, kvtest::hex("FF 00 00 00")},            // short job query
        {0x91, kvtest::hex("01 02 05 54 72 61 79")},   // name without its terminating zero
        {0x94, kvtest::hex("02 00 4D")},               // fewer ids than counted
    };
    for (const Case& c : cases) {
        uint8_t reply[256];
        unsigned long length = sizeof reply;
        EXPECT_EQ(p->sendBidi(0, 0, c.code, reply, &length, c.request.data(), c.request.size()), BCE_E_INVALID)
            << std::hex << c.code;
    }
}

TEST(SimIdentity, CreateReportsTheProfileItCannotRead) {
    char message[256] = "";
    BcePrinter* created = kvprtsim_create("/nonexistent.json", message, sizeof message);
    EXPECT_EQ(created, nullptr);
    EXPECT_NE(std::string(message).find("/nonexistent.json"), std::string::npos);
    created = kvprtsim_create(nullptr, message, sizeof message);
    ASSERT_NE(created, nullptr);
    delete created;
    EXPECT_EQ(std::string(kvprtsim_default_profile()), SimPrinter::defaultProfileJson());
}
