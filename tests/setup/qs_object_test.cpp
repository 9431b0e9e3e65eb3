#include <gtest/gtest.h>

#include <tuple>

#include "qs_fixture.h"
#include "qsf_image.h"

using namespace kvtest;
using namespace qstest;

// First in this file: ctest runs every test in a process of its own, so the
// tables are untouched here unless the whole program runs in one process.
TEST(QuickSetupTables, BareConfigurationNameUntilFirstUseThenBesideTheProgram) {
    if (QuickSetup::strHeadersInitialized) GTEST_SKIP() << "tables already filled in this process";
    EXPECT_EQ(QuickSetup::strConfigurationFile, "QSVARS.CFG");
    EXPECT_EQ(QuickSetup::strOldQsfHeaders[0], "");
    OpenPrtObj printer;
    printer.setPrinterType(0);
    QuickSetup::FileFormat format;
    QuickSetup::verifyQuickSetupFile(&printer, "/nonexistent/file", format, nullptr);
    EXPECT_EQ(QuickSetup::strHeadersInitialized, 1);
    char path[4096];   // then the configuration beside the program
    std::string exe(path, GetModuleFileNameA(nullptr, path, sizeof path));
    EXPECT_EQ(QuickSetup::strConfigurationFile, exe.substr(0, exe.rfind('/') + 1) + "QSVARS.CFG");
}

TEST(QuickSetupPreparing, ResultsThatStartNoWorker) {
    TempDir dir;
    HostWindow host;
    QuickSetup qs;
    unsigned long steps = 99;
    OpenPrtObj unknownType;
    EXPECT_EQ(qs.bidiQuickSetupSend(&unknownType, dir.file("f"), host.handle(), &steps, nullptr, 1), 5u);
    EXPECT_EQ(qs.bidiQuickSetupReceive(&unknownType, dir.file("f"), host.handle(), &steps, nullptr, 1), 5u);
    EXPECT_EQ(qs.bidiQuickSetupSend(nullptr, dir.file("f"), host.handle(), &steps, nullptr, 1), 5u);

    StoredPrinter printer(0);
    writeFile(dir.file("other"), Bytes().text("NOT A FILE").vec());
    EXPECT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("missing"), host.handle(), &steps, nullptr, 1), 1u);
    EXPECT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("other"), host.handle(), &steps, nullptr, 1), 2u);
    EXPECT_EQ(steps, 99u);
    // List 1 empty; nothing for type 0.
    for (const char* text : {"[PrinterType0]\nList1 =\nList2 = 0201\n", "[PrinterType1]\nList1 = 0101\n"}) {
        ConfigOverride config(text);
        EXPECT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("r"), host.handle(), &steps, nullptr, 1), 1u) << text;
    }
    const std::string installed = QuickSetup::strConfigurationFile;
    QuickSetup::strConfigurationFile = dir.file("no-config");
    EXPECT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("r"), host.handle(), &steps, nullptr, 1), 1u);
    QuickSetup::initVars();   // filled once: the path stays as set
    EXPECT_EQ(QuickSetup::strConfigurationFile, dir.file("no-config"));
    QuickSetup::strConfigurationFile = installed;

    // Null window: the lists were read, the steps stored, but no worker starts.
    writeQsfFile(dir.file("lib"), QsfImage(0).list1({{0x0101, {1}}, {0x0102, {2}}}).list2({{0x0201, {}}}).bytes());
    EXPECT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("lib"), nullptr, &steps, nullptr, 2), 3u);
    EXPECT_EQ(std::tuple(steps, printer.rig.printer.requestCount(), host.seen()), std::tuple(1ul, 0u, Messages{}));
    EnvOverride env("KVPRTOBJ_QSFLIB", KVTEST_LIST2_UNREADABLE_QSFLIB);
    QuickSetup unreadable;   // a list 2 that cannot be read counts no variables
    EXPECT_EQ(unreadable.bidiQuickSetupSend(printer.obj(), dir.file("lib"), nullptr, &steps, nullptr, 1), 3u);
    EXPECT_EQ(steps, 2ul);
}

TEST(QuickSetupCopies, EachCopyOwnsItsLoadOfTheFileLibrary) {
    TempDir dir;
    writeQsfFile(dir.file("lib"), QsfImage(0).list1({{0x0101, {1}}}).bytes());
    StoredPrinter printer(0);
    unsigned long steps = 0;
    auto* original = new QuickSetup;
    QuickSetup copy(*original);
    QuickSetup assigned;
    assigned = *original;
    delete original;
    EXPECT_EQ(copy.bidiQuickSetupSend(printer.obj(), dir.file("lib"), nullptr, &steps, nullptr, 1), 3u);
    EXPECT_EQ(assigned.bidiQuickSetupSend(printer.obj(), dir.file("lib"), nullptr, &steps, nullptr, 1), 3u);
    EXPECT_EQ(steps, 1u);
}

TEST(QuickSetupFileLibrary, ResolvesAllEightOrNone) {
    QsfLibrary library;
    ASSERT_NE(library.hModule, nullptr);
    EXPECT_EQ(library.pfnPtQsfOpen, nullptr);
    ASSERT_EQ(library.resolveFunctions(), 1);
    EXPECT_NE(library.pfnPtFilChecksum, nullptr);
    library.unload();
    EXPECT_TRUE(library.hModule == nullptr && library.pfnPtQsfOpen == nullptr);
    EXPECT_EQ(library.resolveFunctions(), 0);

    EnvOverride env("KVPRTOBJ_QSFLIB", incompleteLibrary());
    QsfLibrary incomplete;
    ASSERT_NE(incomplete.hModule, nullptr);
    EXPECT_TRUE(incomplete.resolveFunctions() == 0 && incomplete.pfnPtQsfOpen == nullptr);   // found, then cleared
}
