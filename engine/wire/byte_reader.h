// The bounded reader of the frame codec, the library's reply decoders (big
// endian) and the Quick Setup files (little endian). Values are assembled from their bytes with shifts, so a reader
// gives the same numbers on every host. A read that would pass the end reads
// nothing, returns 0 and marks the reader failed; the failure sticks, so a
// decoder may read a whole record and check ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kvwire {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, size_t length)
        : m_data(static_cast<const uint8_t*>(data)), m_length(data ? length : 0) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos >= m_length; }
    size_t position() const { return m_pos; }
    size_t remaining() const { return m_length - m_pos; }
    size_t size() const { return m_length; }
    bool has(size_t n) const { return remaining() >= n; }
    const uint8_t* here() const { return m_data + m_pos; }

    uint8_t u8() { return take(1) ? m_data[m_pos - 1] : 0; }
    uint16_t be16() {
        if (!take(2)) return 0;
        const uint8_t* p = m_data + m_pos - 2;
        return static_cast<uint16_t>((p[0] << 8) | p[1]);
    }
    uint32_t be32() {
        if (!take(4)) return 0;
        const uint8_t* p = m_data + m_pos - 4;
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    uint16_t le16() {
        if (!take(2)) return 0;
        const uint8_t* p = m_data + m_pos - 2;
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    }
    uint32_t le32() {
        if (!take(4)) return 0;
        const uint8_t* p = m_data + m_pos - 4;
        return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    }
    // Copies the next n bytes as they stand.
    bool raw(void* dst, size_t n) {
        if (!take(n)) return false;
        if (n) std::memcpy(dst, m_data + m_pos - n, n);
        return true;
    }
    bool skip(size_t n) { return take(n); }
    // Moves to `offset` from the start; failed when it lies past the end.
    void seek(size_t offset) {
        if (offset > m_length)
            fail();
        else
            m_pos = offset;
    }

protected:
    // Moves past the next n bytes; false, and failed, when fewer are left.
    bool take(size_t n) {
        if (!m_ok || remaining() < n) {
            fail();
            return false;
        }
        m_pos += n;
        return true;
    }
    void fail() {
        m_ok = false;
        m_pos = m_length;
    }

    const uint8_t* m_data = nullptr;
    size_t m_length = 0;
    size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace kvwire
