// Big-endian byte builders for hand-made replies and requests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kvtest {

using ByteVec = std::vector<uint8_t>;

// Builds a byte sequence field by field: Bytes().u8(3).be16(0x0102).counted("Tray 1").
class Bytes {
public:
    Bytes() = default;
    Bytes(std::initializer_list<uint8_t> bytes) : m_bytes(bytes) {}
    explicit Bytes(ByteVec bytes) : m_bytes(std::move(bytes)) {}

    Bytes& u8(unsigned v) { m_bytes.push_back(static_cast<uint8_t>(v)); return *this; }
    Bytes& be16(unsigned v) { u8(v >> 8); return u8(v); }
    Bytes& be32(uint32_t v) { be16(v >> 16); return be16(v & 0xFFFF); }
    Bytes& le16(unsigned v) { u8(v); return u8(v >> 8); }
    Bytes& le32(uint32_t v) { le16(v & 0xFFFF); return le16(v >> 16); }
    // Appended byte by byte: GCC 12 warns falsely on range inserts at -O2.
    Bytes& raw(std::initializer_list<uint8_t> bytes) { for (uint8_t b : bytes) m_bytes.push_back(b); return *this; }
    Bytes& raw(const ByteVec& bytes) { for (uint8_t b : bytes) m_bytes.push_back(b); return *this; }
    Bytes& raw(const Bytes& bytes) { return raw(bytes.vec()); }
    Bytes& text(std::string_view s) { for (char c : s) m_bytes.push_back(static_cast<uint8_t>(c)); return *this; }
    // A length byte and the characters.
    Bytes& counted(std::string_view s) { u8(static_cast<unsigned>(s.size())); return text(s); }
    Bytes& zeros(size_t n) { return fill(n, 0); }
    Bytes& fill(size_t n, uint8_t v) { m_bytes.resize(m_bytes.size() + n, v); return *this; }

    // The first n bytes (all of them when there are fewer), for cut-short replies.
    Bytes first(size_t n) const { return Bytes(ByteVec(m_bytes.begin(), m_bytes.begin() + std::min(n, size()))); }

    const ByteVec& vec() const { return m_bytes; }
    operator const ByteVec&() const { return m_bytes; }
    size_t size() const { return m_bytes.size(); }
    const uint8_t* data() const { return m_bytes.data(); }

private:
    ByteVec m_bytes;
};

// Bytes from hexadecimal text, blanks ignored: hex("07 41 42 43").
ByteVec hex(std::string_view text);

// Hexadecimal text of bytes, for failure messages: "07 41 42".
std::string toHex(const ByteVec& bytes);
std::string toHex(const void* data, size_t length);

}  // namespace kvtest
