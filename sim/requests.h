// Small helpers of the request handlers.
#pragma once

#include "machine.h"
#include "wire/frame.h"

namespace kvsim {

using kvwire::Writer;

inline Reply invalidRequest() { return {BCE_E_INVALID, {}}; }
inline Reply replyWith(Writer& w) { return {0, w.take()}; }
inline Reply replyWith(Bytes body) { return {0, std::move(body)}; }
// An empty reply: the printer answers with the leading byte only.
inline Reply done() { return {0, {}}; }

inline bool dataIs(const Request& r, std::initializer_list<uint8_t> bytes) {
    if (r.length != bytes.size()) return false;
    size_t i = 0;
    for (uint8_t b : bytes)
        if (r.data[i++] != b) return false;
    return true;
}
inline uint16_t be16At(const Request& r, size_t offset) {
    return static_cast<uint16_t>((r.data[offset] << 8) | r.data[offset + 1]);
}
inline Writer& counted(Writer& w, const std::string& text) {
    return w.u8(static_cast<unsigned>(text.size())).raw(text.data(), text.size());
}

}  // namespace kvsim
