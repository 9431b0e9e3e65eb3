// Whole-file reads, the checksum and memory handed to callers.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/c_boundary.h"
#include "internal.h"
#include "kvprtobj/zutlib32.h"

namespace zut {

int readWholeFile(const char* path, size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) return PTQSF_CANNOT_OPEN;
    try {
        // Read in pieces up to one byte past the limit: a file that grows or
        // lies about its size is still read within bounds.
        uint8_t piece[65536];
        for (;;) {
            size_t n = std::fread(piece, 1, sizeof piece, file.get());
            if (n > 0) {
                if (bytes.size() + n > limit) return PTQSF_BAD_LAYOUT;
                bytes.insert(bytes.end(), piece, piece + n);
            }
            if (n < sizeof piece) break;
        }
    } catch (const std::bad_alloc&) {
        return PTQSF_NO_MEMORY;
    }
    if (std::ferror(file.get())) return PTQSF_READ_ERROR;
    return PTQSF_OK;
}

namespace {

constexpr std::array<uint16_t, 256> makeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

}  // namespace

uint16_t fileChecksum(const std::vector<uint8_t>& bytes) {
    unsigned crc = 0xFFFF;
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t b = (i == QSF_OFFSET_CHECKSUM || i == QSF_OFFSET_CHECKSUM + 1) ? 0 : bytes[i];
        crc = (crc << 8 ^ kCrcTable[(crc >> 8 ^ b) & 0xFF]) & 0xFFFF;
    }
    return static_cast<uint16_t>(crc);
}

unsigned char* handOut(const uint8_t* data, size_t size) {
    if (size == 0) return nullptr;
    auto* copy = static_cast<unsigned char*>(std::malloc(size));
    if (copy) std::memcpy(copy, data, size);
    return copy;
}

}  // namespace zut

extern "C" void PtMemFree(void* memory) { std::free(memory); }

extern "C" int PtFilChecksum(const char* path, int mode, int size, void* checksum) {
    return kvpo::cBoundary(PTQSF_NO_MEMORY, [&]() -> int {
        if (path == nullptr || checksum == nullptr || mode != 0 || size != 2) return PTQSF_BAD_ARGUMENT;
        std::vector<uint8_t> bytes;
        if (int rc = zut::readWholeFile(path, zut::kMaxQsfFileSize, bytes)) return rc;
        uint16_t crc = zut::fileChecksum(bytes);
        auto* out = static_cast<unsigned char*>(checksum);
        out[0] = static_cast<unsigned char>(crc & 0xFF);
        out[1] = static_cast<unsigned char>(crc >> 8);
        return PTQSF_OK;
    });
}
