// Shared pieces of the file library: whole-file reads with a size limit, a
// bounded little-endian reader, the checksum, and memory handed to callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zut {

// The largest library file: the header and two full lists of 65535 records
// of 258 bytes. Larger files are refused before they are read whole.
constexpr size_t kMaxQsfFileSize = 74 + 2 * 65535ul * 258;
// The largest configuration file read.
constexpr size_t kMaxConfigFileSize = 4ul << 20;

// Reads the file at `path` into `bytes`. 0, or PTQSF_CANNOT_OPEN,
// PTQSF_READ_ERROR, PTQSF_BAD_LAYOUT (more than `limit` bytes), PTQSF_NO_MEMORY.
int readWholeFile(const char* path, size_t limit, std::vector<uint8_t>& bytes);

// The checksum of a library file: CRC-16 (polynomial 0x1021, initial 0xFFFF,
// not reflected, no final exclusive-or) over `bytes` with bytes 2 and 3 taken as zero.
uint16_t fileChecksum(const std::vector<uint8_t>& bytes);

// A copy of [data, data + size) in memory that PtMemFree releases; null when
// size is 0 or memory is exhausted.
unsigned char* handOut(const uint8_t* data, size_t size);

// A reader over [data, data + length). A read that would pass the end reads
// nothing, returns 0 and marks the reader failed; the failure sticks.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t length) : m_data(data), m_length(length) {}

    bool ok() const { return m_ok; }
    size_t position() const { return m_pos; }

    void seek(size_t offset) {
        if (offset > m_length) fail();
        else m_pos = offset;
    }
    bool skip(size_t n) {
        if (!m_ok || m_length - m_pos < n) {
            fail();
            return false;
        }
        m_pos += n;
        return true;
    }
    uint8_t u8() { return skip(1) ? m_data[m_pos - 1] : 0; }
    uint16_t le16() { return skip(2) ? static_cast<uint16_t>(m_data[m_pos - 2] | m_data[m_pos - 1] << 8) : 0; }
    uint32_t le32() {
        if (!skip(4)) return 0;
        const uint8_t* p = m_data + m_pos - 4;
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
               static_cast<uint32_t>(p[3]) << 24;
    }

private:
    void fail() {
        m_ok = false;
        m_pos = m_length;
    }

    const uint8_t* m_data;
    size_t m_length;
    size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace zut
