#include <gtest/gtest.h>

#include "kvprtobj/kvprtobj.h"

TEST(LibraryLoading, FindsLibrariesBesideOursAndTruncatesTheExecutablePath) {
    HMODULE engine = LoadLibraryA("libzorbce.so");
    ASSERT_NE(engine, nullptr);
    EXPECT_NE(GetProcAddress(engine, "BceResultText"), nullptr);
    EXPECT_EQ(GetProcAddress(engine, "NoSuchFunction"), nullptr);
    char path[512];
    ASSERT_GT(GetModuleFileNameA(engine, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path).rfind(AfxLibraryDirectory(), 0), 0u);
    EXPECT_TRUE(FreeLibrary(engine));
    EXPECT_EQ(LoadLibraryA("libno-such-library.so"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);

    char shortPath[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, shortPath, sizeof shortPath), 7u);
    EXPECT_EQ(shortPath[7], '\0');
}
