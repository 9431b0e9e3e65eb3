// Whole-word access to the client's 32-bit bit-field records (PRTALERTS,
// UIRALERTS, PRINTERSTATUS), so that an operation changes exactly the bits it
// owns and keeps the others, unnamed ones included.
#pragma once

#include <cstdint>
#include <cstring>

namespace kvpo {

template <typename Bits>
uint32_t wordOf(const Bits& bits) {
    static_assert(sizeof(Bits) == sizeof(uint32_t));
    uint32_t word;
    std::memcpy(&word, &bits, sizeof word);
    return word;
}

template <typename Bits>
void storeWord(Bits& bits, uint32_t word) {
    static_assert(sizeof(Bits) == sizeof(uint32_t));
    std::memcpy(&bits, &word, sizeof word);
}

}  // namespace kvpo
