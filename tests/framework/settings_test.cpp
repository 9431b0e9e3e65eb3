#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kvprtobj/kvprtobj.h"

namespace {

// Points the settings store at a file with `content` for the test's lifetime.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& content) {
        m_path = std::filesystem::temp_directory_path() /
                 ("kvpo-settings-" + std::to_string(::getpid()) + "-" + std::to_string(++s_counter) + ".ini");
        std::ofstream(m_path) << content;
        const char* old = std::getenv("KVPRTOBJ_SETTINGS");
        m_old = old ? old : "";
        ::setenv("KVPRTOBJ_SETTINGS", m_path.c_str(), 1);
    }
    ~SettingsFile() {
        ::setenv("KVPRTOBJ_SETTINGS", m_old.c_str(), 1);
        std::filesystem::remove(m_path);
    }

private:
    static inline int s_counter = 0;
    std::filesystem::path m_path;
    std::string m_old;
};

}  // namespace

TEST(Settings, EnvironmentVariableNamesTheFile) {
    SettingsFile file("[Settings]\nInstallType=2\n");
    EXPECT_EQ(AfxSettingsPath(), std::getenv("KVPRTOBJ_SETTINGS"));
}

TEST(Settings, DefaultPathFollowsXdgConfigHome) {
    std::string old = std::getenv("KVPRTOBJ_SETTINGS") ? std::getenv("KVPRTOBJ_SETTINGS") : "";
    ::unsetenv("KVPRTOBJ_SETTINGS");
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(AfxSettingsPath(), "/tmp/xdg-test/framework_test/settings.ini");
    ::setenv("KVPRTOBJ_SETTINGS", old.c_str(), 1);
}

TEST(Settings, ReadsSectionsAndKeysIgnoringCaseAndComments) {
    SettingsFile file("; comment\n[Other]\nInstallType=9\n[ settings ]\n# comment\n  installtype = 0x2 \nName= a b \n");
    unsigned long v = 0;
    ASSERT_TRUE(AfxGetProfileDword("Settings", "InstallType", &v));
    EXPECT_EQ(v, 2u);
    std::string s;
    ASSERT_TRUE(AfxGetProfileString("Settings", "Name", &s));
    EXPECT_EQ(s, "a b");
    EXPECT_FALSE(AfxGetProfileString("Settings", "Missing", &s));
    EXPECT_FALSE(AfxGetProfileString("Nowhere", "Name", &s));
}

TEST(Settings, NumbersThatAreNotNumbersAreMissing) {
    SettingsFile file("[Settings]\nA=12x\nB=-1\nC=\nD=4294967296\n");
    unsigned long v = 77;
    EXPECT_FALSE(AfxGetProfileDword("Settings", "A", &v));
    EXPECT_FALSE(AfxGetProfileDword("Settings", "B", &v));
    EXPECT_FALSE(AfxGetProfileDword("Settings", "C", &v));
    EXPECT_FALSE(AfxGetProfileDword("Settings", "D", &v));
    EXPECT_EQ(v, 77u);
}

TEST(Settings, CapturedPortsComeFromTheSettingsFile) {
    SettingsFile file("[CapturedPorts]\nLPT2=\\\\server\\queue\n");
    char remote[64];
    DWORD length = sizeof remote;
    ASSERT_EQ(WNetGetConnectionA("LPT2:", remote, &length), NO_ERROR);
    EXPECT_STREQ(remote, "\\\\server\\queue");
    length = sizeof remote;
    EXPECT_EQ(WNetGetConnectionA("LPT1:", remote, &length), ERROR_NOT_CONNECTED);
    length = 4;
    EXPECT_EQ(WNetGetConnectionA("LPT2:", remote, &length), ERROR_MORE_DATA);
    EXPECT_EQ(length, 15u);
}
