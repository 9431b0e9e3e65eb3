// No exception may leave a function of C linkage: its caller may be C, or a
// host built without knowledge of our exceptions, and the process would end.
// Every extern "C" function of our libraries that can throw (memory, a lock,
// a host's callback) runs its body through cBoundary, which turns anything
// thrown into the function's documented failure result. Functions that
// cannot throw (a table lookup, an atomic store) need none.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

namespace kvpo {

// `body()`, or `failed` when it throws.
template <class Body>
std::invoke_result_t<Body&> cBoundary(std::type_identity_t<std::invoke_result_t<Body&>> failed, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

// `body()` for functions without a result: what it throws is dropped.
template <class Body>
void cBoundary(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// A text handed out through a caller's buffer: at most size - 1 bytes and a
// NUL; returns the text's whole length. `text()` throwing (no memory) gives an
// empty text and 0.
template <class Text>
unsigned long textOut(Text&& text, char* buffer, unsigned long size) noexcept {
    std::string shown;
    try {
        shown = text();
    } catch (...) {
        shown.clear();
    }
    if (buffer && size) {
        size_t copy = std::min<size_t>(shown.size(), size - 1);
        std::memcpy(buffer, shown.data(), copy);
        buffer[copy] = '\0';
    }
    return shown.size();
}

}  // namespace kvpo
