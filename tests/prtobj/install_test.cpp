// The install type is read once per process, so every case runs in a process
// of its own (death-test style child) with its own settings file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "kvprtobj/kvprtobj.h"

namespace {

// In a fresh process: points the settings at `content` (none when null), reads
// the install type, rewrites the file to `later` and reads again; exits with
// 10 * first + second + 100 * IsVelkorOnlyInstall().
[[noreturn]] void readInstallType(const char* content, const char* later) {
    auto path = std::filesystem::temp_directory_path() / ("kvpo-install-" + std::to_string(::getpid()) + ".ini");
    if (content) std::ofstream(path) << content;
    ::setenv("KVPRTOBJ_SETTINGS", path.c_str(), 1);
    int first = GetInstallType();
    std::ofstream(path) << later;
    int second = GetInstallType();
    int velkor = IsVelkorOnlyInstall();
    std::filesystem::remove(path);
    std::_Exit(10 * first + second + 100 * velkor);
}

}  // namespace

TEST(InstallType, ReadOncePerProcessMissingOrOutOfRangeGivesZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(readInstallType("[Settings]\nInstallType=2\n", "[Settings]\nInstallType=1\n"),
                ::testing::ExitedWithCode(22), "");
    EXPECT_EXIT(readInstallType("[Settings]\nInstallType=1\n", "[Settings]\nInstallType=0\n"),
                ::testing::ExitedWithCode(111), "");
    EXPECT_EXIT(readInstallType(nullptr, "[Settings]\nInstallType=1\n"), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(readInstallType("[Settings]\nInstallType=7\n", "[Settings]\nInstallType=1\n"),
                ::testing::ExitedWithCode(0), "");
}
