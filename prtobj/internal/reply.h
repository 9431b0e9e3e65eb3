// Shared decoding helpers of the library: a reply buffer that releases itself,
// a bounded big-endian reader over a reply, and the array rules of the list
// decoders. Every decoder reads replies through ReplyReader, so no decoder can
// read outside the reply it was given, whatever the counts and lengths inside
// the reply claim.
#pragma once

#include <algorithm>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "engine/wire/byte_reader.h"
#include "kvprtobj/fw_base.h"
#include "kvprtobj/helpers.h"
#include "prtobj/internal/results.h"

namespace kvpo {

// The engine's bounded big-endian reader (engine/wire/byte_reader.h) with the
// reads of the library's replies: texts, sub-records and fixed offsets.
class ReplyReader : public kvwire::ByteReader {
public:
    using ByteReader::ByteReader;

    // The next n bytes as a text (embedded zero bytes kept).
    CString text(size_t n) {
        if (!take(n)) return {};
        return CString(reinterpret_cast<const char*>(m_data + m_pos - n), n);
    }
    // A length byte and that many characters.
    CString countedText() { return text(u8()); }
    // A reader over the next n bytes; this reader moves past them.
    ReplyReader sub(size_t n) {
        if (!take(n)) {
            ReplyReader failed;
            failed.fail();
            return failed;
        }
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
    // Whether the next bytes are `mark` (the leading bytes that say what an
    // alert or a reply holds), moving past them; false, and failed, when they
    // differ or the data end first. Every mark of the library is checked here.
    template <size_t N>
    bool mark(const unsigned char (&expected)[N]) {
        if (!has(N) || std::memcmp(here(), expected, N) != 0) {
            fail();
            return false;
        }
        return take(N);
    }
};

// A byte buffer made with ::operator new that the transport hands back; it is
// released when the holder goes out of scope.
struct Buffer {
    void* data = nullptr;
    unsigned long length = 0;   // before a request: the first reply-buffer size (0 = default)

    Buffer() = default;
    explicit Buffer(unsigned long firstSize) : length(firstSize) {}
    Buffer(Buffer&& other) noexcept : data(other.release()), length(other.length) {}
    ~Buffer() { ::operator delete(data); }

    explicit operator bool() const { return data != nullptr; }
    const unsigned char* bytes() const { return static_cast<const unsigned char*>(data); }
    ReplyReader reader() const { return ReplyReader(data, data ? length : 0); }
    // Hands the buffer to the caller.
    void* release() {
        void* p = data;
        data = nullptr;
        return p;
    }
};

// The array of a list decoder, under the rules every list shares:
// - `announced` slots, but no more than the `available` reply bytes could
//   hold records of at least `smallest` bytes, and one: a count the reply
//   cannot hold costs no more than the reply itself (a decoder fails on the
//   short reply before it reaches a slot that is not there);
// - made with new[] (std::nothrow); the caller releases it with delete[];
// - when it cannot be made, *array (when given) is set null and *count (when
//   given) keeps the count the reply announced; the caller returns
//   BCE_E_NO_MEMORY.
template <typename T, typename Count = unsigned>
std::unique_ptr<T[]> newRecords(size_t announced, size_t available, size_t smallest, T** array = nullptr,
                                Count* count = nullptr) {
    const size_t slots = smallest ? std::min(announced, available / smallest + 1) : announced;
    std::unique_ptr<T[]> records(new (std::nothrow) T[slots]);
    if (!records) {
        if (array) *array = nullptr;
        if (count) *count = static_cast<Count>(announced);
    }
    return records;
}

}  // namespace kvpo
