// Shared decoding helpers of the library: a reply buffer that releases itself,
// and a bounded big-endian reader over a reply. Every decoder reads replies
// through ReplyReader, so no decoder can read outside the reply it was given,
// whatever the counts and lengths inside the reply claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "kvprtobj/fw_base.h"
#include "kvprtobj/helpers.h"

namespace kvpo {

// A reader over [data, data + length). A read that would pass the end reads
// nothing, returns 0 (or an empty text) and marks the reader failed; the
// failure sticks, so a decoder may read a whole record and check ok() once.
class ReplyReader {
public:
    ReplyReader() = default;
    ReplyReader(const void* data, size_t length) : m_data(static_cast<const unsigned char*>(data)), m_length(data ? length : 0) {}

    bool ok() const { return m_ok; }
    size_t position() const { return m_pos; }
    size_t remaining() const { return m_length - m_pos; }
    size_t size() const { return m_length; }
    bool has(size_t n) const { return remaining() >= n; }
    bool atEnd() const { return m_pos >= m_length; }
    const unsigned char* here() const { return m_data + m_pos; }

    uint8_t u8() {
        if (!take(1)) return 0;
        return m_data[m_pos - 1];
    }
    uint16_t be16() {
        if (!take(2)) return 0;
        uint16_t v = MakeUSHORT(m_data + m_pos - 2);
        twoByteSwap(&v);
        return v;
    }
    uint32_t be32() {
        if (!take(4)) return 0;
        uint32_t v = MakeUINT(m_data + m_pos - 4);
        fourByteSwap(&v);
        return v;
    }
    // Copies the next n bytes as they stand.
    bool bytes(void* dst, size_t n) {
        if (!take(n)) return false;
        for (size_t i = 0; i < n; ++i) static_cast<unsigned char*>(dst)[i] = m_data[m_pos - n + i];
        return true;
    }
    // The next n bytes as a text (embedded zero bytes kept).
    CString text(size_t n) {
        if (!take(n)) return {};
        return CString(reinterpret_cast<const char*>(m_data + m_pos - n), n);
    }
    // A length byte and that many characters.
    CString countedText() { return text(u8()); }
    bool skip(size_t n) { return take(n); }
    // A reader over the next n bytes; this reader moves past them.
    ReplyReader sub(size_t n) {
        if (!take(n)) return failedReader();
        return ReplyReader(m_data + m_pos - n, n);
    }
    // Byte at `offset` from the start, without moving; 0 and failed when outside.
    uint8_t byteAt(size_t offset) {
        if (offset >= m_length) {
            m_ok = false;
            return 0;
        }
        return m_data[offset];
    }
    void seek(size_t offset) {
        if (offset > m_length) {
            m_ok = false;
            m_pos = m_length;
        } else {
            m_pos = offset;
        }
    }

private:
    static ReplyReader failedReader() {
        ReplyReader r;
        r.m_ok = false;
        return r;
    }
    bool take(size_t n) {
        if (!m_ok || remaining() < n) {
            m_ok = false;
            m_pos = m_length;
            return false;
        }
        m_pos += n;
        return true;
    }

    const unsigned char* m_data = nullptr;
    size_t m_length = 0;
    size_t m_pos = 0;
    bool m_ok = true;
};

// A byte buffer made with ::operator new that the transport hands back; it is
// released when the holder goes out of scope.
struct Buffer {
    void* data = nullptr;
    unsigned long length = 0;   // before a request: the first reply-buffer size (0 = default)

    Buffer() = default;
    explicit Buffer(unsigned long firstSize) : length(firstSize) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { ::operator delete(data); }

    const unsigned char* bytes() const { return static_cast<const unsigned char*>(data); }
    ReplyReader reader() const { return ReplyReader(data, data ? length : 0); }
    // Hands the buffer to the caller.
    void* release() {
        void* p = data;
        data = nullptr;
        return p;
    }
};

}  // namespace kvpo
