// The simulated printer in process: its refusals of profiles and requests (its
// replies are checked through the library by the round trip).
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "kvprtobj/kvprtsim.h"
#include "bytes.h"
#include "sim/profile.h"
#include "temp_dir.h"

using kvsim::SimPrinter;

// Each line of profile_errors.golden: a profile, "=>", and the whole message it is refused with.
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

// Profiles are read only from regular files of bounded size, never waited on.
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

// Each line of invalid_requests.txt: a request code and its data in hexadecimal, and why they are invalid.
TEST(SimReplies, UnknownRequestsAndMalformedDataAreInvalid) {
    auto p = SimPrinter::fromDefault();
    std::istringstream table(kvtest::readText(KVPO_INVALID_REQUESTS));
    int rows = 0;
    for (std::string line; std::getline(table, line); ++rows) {
        const auto code = static_cast<unsigned short>(std::stoul(line.substr(0, 2), nullptr, 16));
        const kvtest::ByteVec request = kvtest::hex(line.substr(2, line.find(" | ") - 2));
        uint8_t reply[256];
        unsigned long length = sizeof reply;
        EXPECT_EQ(p->sendBidi(0, 0, code, reply, &length, request.data(), request.size()), BCE_E_INVALID) << line;
    }
    EXPECT_EQ(rows, 14);
}

TEST(SimIdentity, CreateReportsTheProfileItCannotRead) {
    char message[256] = "";
    EXPECT_EQ(kvprtsim_create("/nonexistent.json", message, sizeof message), nullptr);
    EXPECT_NE(std::string(message).find("/nonexistent.json"), std::string::npos);
    EXPECT_NE(std::unique_ptr<BcePrinter>(kvprtsim_create(nullptr, message, sizeof message)), nullptr);
    EXPECT_EQ(std::string(kvprtsim_default_profile()), SimPrinter::defaultProfileJson());
}
