#include <gtest/gtest.h>

#include <cstdlib>

#include "env.h"
#include "kvprtobj/kvprtobj.h"

using kvtest::SettingsFile;

TEST(Settings, EnvironmentVariableNamesTheFileOrTheDefaultFollowsXdgConfigHome) {
    {
        SettingsFile file("[Settings]\nInstallType=2\n");
        EXPECT_EQ(AfxSettingsPath(), file.path());
    }
    std::string old = std::getenv("KVPRTOBJ_SETTINGS") ? std::getenv("KVPRTOBJ_SETTINGS") : "";
    ::unsetenv("KVPRTOBJ_SETTINGS");
    kvtest::EnvOverride xdg("XDG_CONFIG_HOME", "/tmp/xdg-test");
    EXPECT_EQ(AfxSettingsPath(), "/tmp/xdg-test/framework_test/settings.ini");
    ::setenv("KVPRTOBJ_SETTINGS", old.c_str(), 1);
}

TEST(Settings, ReadsSectionsAndKeysIgnoringCaseAndComments) {
    SettingsFile file("Name=before any section\n; comment\n[Other]\nInstallType=9\n[ settings ]\n# comment\n  installtype = 0x2 \nName= a b \n");
    unsigned long v = 0;
    std::string s;
    ASSERT_TRUE(AfxGetProfileDword("Settings", "InstallType", &v) && AfxGetProfileString("Settings", "Name", &s));
    EXPECT_EQ(std::pair(v, s), std::pair(2ul, std::string("a b")));
    EXPECT_FALSE(AfxGetProfileString("Settings", "Missing", &s));
    EXPECT_FALSE(AfxGetProfileString("Nowhere", "Name", &s));

    SettingsFile numbers("[Settings]\nA=12x\nB=-1\nC=\nD=4294967296\n");   // numbers that are not numbers are missing
    v = 77;
    for (const char* key : {"A", "B", "C", "D"}) EXPECT_FALSE(AfxGetProfileDword("Settings", key, &v)) << key;
    EXPECT_EQ(v, 77u);
}

// Connections found and missing are read by discovery (its captured-ports test).
TEST(Settings, CapturedPortConnectionTooLongForTheBuffer) {
    SettingsFile file("[CapturedPorts]\nLPT2=\\\\server\\queue\n");
    char remote[64];
    DWORD length = 4;
    EXPECT_TRUE(WNetGetConnectionA("LPT2:", remote, &length) == ERROR_MORE_DATA && length == 15u);
}
