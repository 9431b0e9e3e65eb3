#include <gtest/gtest.h>

#include "qs_fixture.h"
#include "qsf_image.h"

using namespace kvtest;
using namespace qstest;

namespace {

struct Verified {
    QuickSetup::KVQSRC rc;
    QuickSetup::FileFormat format;
};

Verified verify(unsigned long type, const std::string& path) {
    OpenPrtObj printer;
    printer.setPrinterType(type);
    QuickSetup::FileFormat format = static_cast<QuickSetup::FileFormat>(7);
    auto rc = QuickSetup::verifyQuickSetupFile(&printer, path, format, nullptr);
    return {rc, format};
}

}  // namespace

TEST(VerifyQuickSetupFile, HeaderWordDecidesForTypesWithSuchFiles) {
    TempDir dir;
    writeFile(dir.file("hulp"), Bytes().text("HULPBIDI").be16(0x0101).text("x:").vec());
    writeFile(dir.file("short"), Bytes().text("BID").vec());
    writeFile(dir.file("zero"), Bytes().text("BI").u8(0).text("I01x:").vec());
    writeFile(dir.file("bidi"), Bytes().text("BIDI").vec());
    const auto unknown = static_cast<QuickSetup::FileFormat>(7);
    const std::tuple<unsigned long, const char*, QuickSetup::KVQSRC, QuickSetup::FileFormat> cases[] = {
        {5, "hulp", QuickSetup::KVQSRC_OK, QuickSetup::QSF_HEADER_WORD},
        {2, "hulp", QuickSetup::KVQSRC_NOT_QSF, unknown},      // type 2 has no header-word file
        {4, "hulp", QuickSetup::KVQSRC_NOT_QSF, unknown},      // another header word
        {0, "short", QuickSetup::KVQSRC_READ_ERROR, unknown},  // shorter than "BIDI"
        {0, "zero", QuickSetup::KVQSRC_NOT_QSF, unknown},      // compared as a terminated text
        {0, "bidi", QuickSetup::KVQSRC_OK, QuickSetup::QSF_HEADER_WORD},
        {12, "bidi", QuickSetup::KVQSRC_NOT_QSF, unknown},     // types above 11 have none
        {0, "missing", QuickSetup::KVQSRC_READ_ERROR, unknown},
    };
    for (auto [type, file, rc, format] : cases) {
        Verified v = verify(type, dir.file(file));
        EXPECT_EQ(std::pair(v.rc, v.format), std::pair(rc, format)) << file << " type " << type;
    }
}

TEST(VerifyQuickSetupFile, LibraryFilesThroughTheFileLibrary) {
    TempDir dir;
    writeQsfFile(dir.file("t12"), QsfImage(12).list1({{0x0101, {1}}}).bytes());
    writeQsfFile(dir.file("corrupt"), QsfImage(0).list1({{0x0101, {1}}}).bytes(), false);   // checksum 0
    Verified v = verify(12, dir.file("t12"));
    EXPECT_EQ(std::pair(v.rc, v.format), std::pair(QuickSetup::KVQSRC_OK, QuickSetup::QSF_LIBRARY));
    EXPECT_EQ(verify(0, dir.file("t12")).rc, QuickSetup::KVQSRC_NOT_QSF);      // another printer type
    EXPECT_EQ(verify(0, dir.file("corrupt")).rc, QuickSetup::KVQSRC_READ_ERROR);

    // With a handle pointer the file stays open for the caller; it needs a
    // load of the file library of its own to close it.
    QuickSetup holder;
    OpenPrtObj printer;
    printer.setPrinterType(12);
    QuickSetup::FileFormat format;
    _QSFFILE* file = reinterpret_cast<_QSFFILE*>(1);
    ASSERT_EQ(QuickSetup::verifyQuickSetupFile(&printer, dir.file("t12"), format, &file), QuickSetup::KVQSRC_OK);
    ASSERT_NE(file, nullptr);
    unsigned char* records = nullptr;
    unsigned short count = 0;
    EXPECT_TRUE(PtQsfGetVariables(file, 1, &records, &count) == 0 && count == 1u);
    PtMemFree(records);
    PtQsfClose(file);
    EXPECT_EQ(QuickSetup::verifyQuickSetupFile(&printer, dir.file("none"), format, &file),
              QuickSetup::KVQSRC_READ_ERROR);
    EXPECT_EQ(file, nullptr);
}

TEST(VerifyQuickSetupFile, MissingOrIncompleteFileLibraryGivesSix) {
    TempDir dir;
    writeFile(dir.file("bidi"), Bytes().text("BIDI").vec());
    for (const std::string& library : {dir.file("libnone.so"), incompleteLibrary()}) {
        EnvOverride env("KVPRTOBJ_QSFLIB", library);
        EXPECT_EQ(verify(0, dir.file("bidi")).rc, QuickSetup::KVQSRC_NO_LIBRARY) << library;
        QuickSetup qs;
        StoredPrinter printer(0);
        unsigned long steps = 99;
        HostWindow host;
        EXPECT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("bidi"), host.handle(), &steps, nullptr, 1), 6u);
        EXPECT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("r"), host.handle(), &steps, nullptr, 1), 6u);
        EXPECT_EQ(steps, 99u);
    }
}
