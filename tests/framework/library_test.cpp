#include <gtest/gtest.h>

#include "kvprtobj/kvprtobj.h"

TEST(LibraryLoading, FindsLibrariesBesideOursAndTruncatesTheExecutablePath) {
    HMODULE engine = LoadLibraryA("libzorbce.so");
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(GetProcAddress(engine, "BceResultText") != nullptr &&
                GetProcAddress(engine, "NoSuchFunction") == nullptr);
    char path[512];
    ASSERT_GT(GetModuleFileNameA(engine, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path).rfind(AfxLibraryDirectory(), 0), 0u);
    EXPECT_TRUE(FreeLibrary(engine));
    for (const char* missing : {"libno-such-library.so", ""}) EXPECT_EQ(LoadLibraryA(missing), nullptr) << missing;

    char shortPath[8];
    EXPECT_TRUE(GetModuleFileNameA(nullptr, shortPath, sizeof shortPath) == 7u && shortPath[7] == '\0');
}
