#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>

#include "kvprtobj/kvprtobj.h"
#include "qsf_image.h"
#include "temp_dir.h"

namespace {

using kvtest::ByteVec;

// A minimal 64-bit ELF file whose only section is a note section holding
// `notes`; the section header table follows the notes.
ByteVec elfWithNotes(const ByteVec& notes) {
    ByteVec file(sizeof(Elf64_Ehdr), 0);
    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_DYN;
    eh.e_machine = EM_X86_64;
    eh.e_version = EV_CURRENT;
    eh.e_ehsize = sizeof(Elf64_Ehdr);
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = 2;
    eh.e_shoff = sizeof(Elf64_Ehdr) + notes.size();
    std::memcpy(file.data(), &eh, sizeof eh);
    file.insert(file.end(), notes.begin(), notes.end());
    Elf64_Shdr sh[2]{};
    sh[1].sh_type = SHT_NOTE;
    sh[1].sh_offset = sizeof(Elf64_Ehdr);
    sh[1].sh_size = notes.size();
    const auto* p = reinterpret_cast<const uint8_t*>(sh);
    file.insert(file.end(), p, p + sizeof sh);
    return file;
}

ByteVec note(const std::string& name, uint32_t type, const ByteVec& desc) {
    kvtest::Bytes b;
    b.le32(static_cast<uint32_t>(name.size() + 1)).le32(static_cast<uint32_t>(desc.size())).le32(type);
    b.text(name).u8(0);
    while (b.size() % 4) b.u8(0);
    b.raw(desc);
    while (b.size() % 4) b.u8(0);
    return b.vec();
}

ByteVec versionNote(unsigned a, unsigned b, unsigned c, unsigned d) {
    return note("KVPRTOBJ", 0x4b56, kvtest::Bytes().le16(a).le16(b).le16(c).le16(d).vec());
}

std::string versionOf(const ByteVec& content) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.file("lib.so"), content);
    CString version = "stale";
    getKVDLLVersionNumber(dir.file("lib.so"), &version);
    return version;
}

}  // namespace

// Two or four parts, passing over other notes; files without a version give the empty text.
TEST(FileVersion, FormatsTwoOrFourPartsOrNothing) {
    ByteVec notes = note("GNU", 3, ByteVec(20, 0xAB));
    ByteVec ours = versionNote(2, 1, 0, 0);
    notes.insert(notes.end(), ours.begin(), ours.end());
    ByteVec broken = elfWithNotes(versionNote(1, 0, 0, 0));
    broken.resize(broken.size() - 10);   // section table cut short
    ByteVec bigEndian = elfWithNotes(versionNote(3, 5, 0, 0));
    bigEndian[EI_DATA] = ELFDATA2MSB;
    const std::pair<ByteVec, const char*> cases[] = {
        {elfWithNotes(versionNote(3, 5, 0, 0)), "3.05"},    {elfWithNotes(versionNote(3, 5, 0, 12)), "3.05.00.12"},
        {elfWithNotes(versionNote(12, 34, 5, 0)), "12.34.05.00"}, {elfWithNotes(notes), "2.01"},
        {elfWithNotes(note("GNU", 3, ByteVec(16, 1))), ""}, {kvtest::hex("7F 45 4C 46 02 01"), ""},   // cut header
        {ByteVec{'t', 'e', 'x', 't'}, ""},                  {broken, ""}, {bigEndian, ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(versionOf(cases[i].first), cases[i].second) << i;
    CString version = "stale";
    getKVDLLVersionNumber("/no/such/file", &version);
    EXPECT_EQ(version, "");
    VS_FIXEDFILEINFO block{};
    EXPECT_FALSE(GetFileVersionInfoA("/no/such/file", 0, sizeof block, &block));
}

TEST(FileVersion, OurLibraryCarriesTheProjectVersion) {
    KVPrtObj printer;
    CString version;
    printer.getVersionNumber(AfxLibraryDirectory(), &version);
    EXPECT_EQ(version, KVPO_TEST_VERSION_TEXT);
    DWORD size = GetFileVersionInfoSizeA((AfxLibraryDirectory() + "libzorbce.so").c_str(), nullptr);
    EXPECT_EQ(size, sizeof(VS_FIXEDFILEINFO));
}
