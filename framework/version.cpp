// Reads the fixed file version from the "KVPRTOBJ" ELF note of a file (see
// cmake/version_note.c.in). Every read is bounded by the file's size, so a
// truncated or hostile file yields "no version" and nothing worse.
#include "kvprtobj/fw_version.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

constexpr uint32_t kNoteType = 0x4b56;
constexpr char kNoteName[] = "KVPRTOBJ";
constexpr uint32_t kSignature = 0xFEEF04BD;

struct Bytes {
    const std::vector<unsigned char>& data;
    template <typename T>
    std::optional<T> at(uint64_t offset) const {
        if (offset > data.size() || data.size() - offset < sizeof(T)) return std::nullopt;
        T value;
        std::memcpy(&value, data.data() + offset, sizeof(T));
        return value;
    }
};

uint64_t align4(uint64_t v) { return (v + 3) & ~uint64_t{3}; }

// Scans the notes in [offset, offset + size) for ours.
std::optional<VS_FIXEDFILEINFO> scanNotes(const Bytes& file, uint64_t offset, uint64_t size) {
    if (offset > file.data.size() || size > file.data.size() - offset) return std::nullopt;
    uint64_t pos = offset, end = offset + size;
    while (end - pos >= 12) {
        auto namesz = file.at<uint32_t>(pos), descsz = file.at<uint32_t>(pos + 4), type = file.at<uint32_t>(pos + 8);
        if (!namesz || !descsz || !type) return std::nullopt;
        uint64_t name = pos + 12, desc = name + align4(*namesz), next = desc + align4(*descsz);
        if (next > end || next <= pos) return std::nullopt;
        if (*type == kNoteType && *namesz == sizeof kNoteName && *descsz == 8 &&
            std::memcmp(file.data.data() + name, kNoteName, sizeof kNoteName) == 0) {
            uint16_t parts[4];
            std::memcpy(parts, file.data.data() + desc, sizeof parts);
            VS_FIXEDFILEINFO info{};
            info.dwSignature = kSignature;
            info.dwStrucVersion = 0x00010000;
            info.dwFileVersionMS = info.dwProductVersionMS = uint32_t{parts[0]} << 16 | parts[1];
            info.dwFileVersionLS = info.dwProductVersionLS = uint32_t{parts[2]} << 16 | parts[3];
            return info;
        }
        pos = next;
    }
    return std::nullopt;
}

template <typename Ehdr, typename Shdr>
std::optional<VS_FIXEDFILEINFO> scanSections(const Bytes& file) {
    auto eh = file.at<Ehdr>(0);
    if (!eh || eh->e_shentsize != sizeof(Shdr)) return std::nullopt;
    for (uint64_t i = 0; i < eh->e_shnum; ++i) {
        auto sh = file.at<Shdr>(eh->e_shoff + i * sizeof(Shdr));
        if (!sh) return std::nullopt;
        if (sh->sh_type != SHT_NOTE) continue;
        if (auto info = scanNotes(file, sh->sh_offset, sh->sh_size)) return info;
    }
    return std::nullopt;
}

std::optional<VS_FIXEDFILEINFO> readVersion(const char* path) {
    if (path == nullptr) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes file{data};
    if (data.size() < EI_NIDENT || std::memcmp(data.data(), ELFMAG, SELFMAG) != 0 || data[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    if (data[EI_CLASS] == ELFCLASS64) return scanSections<Elf64_Ehdr, Elf64_Shdr>(file);
    if (data[EI_CLASS] == ELFCLASS32) return scanSections<Elf32_Ehdr, Elf32_Shdr>(file);
    return std::nullopt;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle) {
    if (handle) *handle = 0;
    return readVersion(path) ? sizeof(VS_FIXEDFILEINFO) : 0;
}

BOOL GetFileVersionInfoA(const char* path, DWORD, DWORD length, void* data) {
    auto info = readVersion(path);
    if (!info || data == nullptr || length < sizeof(VS_FIXEDFILEINFO)) return FALSE;
    std::memcpy(data, &*info, sizeof *info);
    return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length) {
    if (block == nullptr || subBlock == nullptr || std::strcmp(subBlock, "\\") != 0) return FALSE;
    auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
    if (info->dwSignature != kSignature) return FALSE;
    *buffer = const_cast<void*>(block);
    *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
