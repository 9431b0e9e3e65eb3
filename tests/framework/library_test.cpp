#include <gtest/gtest.h>

#include "kvprtobj/kvprtobj.h"

TEST(LibraryLoading, FindsLibrariesBesideOurs) {
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
}

TEST(LibraryLoading, ExecutablePathIsTruncatedToTheBuffer) {
    char path[8];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(path[7], '\0');
}
