// The checksum: CRC-16 (0x1021, initial 0xFFFF) over the file with bytes 2-3
// taken as zero, stored little-endian.
#include <gtest/gtest.h>

#include "kvprtobj/zutlib32.h"
#include "qsf_image.h"
#include "temp_dir.h"

using namespace kvtest;

namespace {

int checksum(const std::string& path, unsigned char out[2], int mode = 0, int size = 2) {
    return PtFilChecksum(path.c_str(), mode, size, out);
}

}  // namespace

TEST(Checksum, KnownValuesIgnoringBytesTwoAndThree) {
    TempDir dir;
    // CRC-16 of "12" 00 00 "56789", computed independently; the empty file; a one-byte file.
    unsigned char out[2] = {0, 0};
    const std::pair<const char*, const char*> cases[] = {
        {"123456789", "93 81"}, {"12\xAB\xCD" "56789", "93 81"}, {"", "FF FF"}, {"1", "82 C7"}};
    for (auto [text, sum] : cases) {
        writeFile(dir.file("f"), Bytes().text(text).vec());
        ASSERT_EQ(checksum(dir.file("f"), out), 0);
        EXPECT_EQ(toHex(out, 2), sum) << text;
    }
    writeFile(dir.file("empty"), {});
    // Only mode 0 of two bytes and an existing file.
    EXPECT_EQ(checksum(dir.file("empty"), out, 1, 2), PTQSF_BAD_ARGUMENT);
    EXPECT_EQ(checksum(dir.file("empty"), out, 0, 4), PTQSF_BAD_ARGUMENT);
    EXPECT_EQ(PtFilChecksum(dir.file("empty").c_str(), 0, 2, nullptr), PTQSF_BAD_ARGUMENT);
    EXPECT_EQ(checksum(dir.file("none"), out), PTQSF_CANNOT_OPEN);
    EXPECT_EQ(toHex(out, 2), "82 C7");   // untouched
}

TEST(Checksum, StampedFileOpensAndAnyChangedByteIsCaught) {
    TempDir dir;
    const ByteVec good = QsfImage(1).list1({{0x0101, hex("01 02")}}).bytes();
    writeQsfFile(dir.file("a.qsf"), good);
    const ByteVec stamped = readFile(dir.file("a.qsf"));
    for (size_t i = 0; i < stamped.size(); ++i) {
        ByteVec bad = stamped;
        bad[i] ^= 0x10;
        writeFile(dir.file("b.qsf"), bad);
        _QSFFILE* file = nullptr;
        int rc = PtQsfOpen(dir.file("b.qsf").c_str(), 1, &file);
        EXPECT_NE(rc, 0) << "byte " << i;
        PtQsfClose(file);
    }
}
