// Byte order, reply buffers, number formatting and the trace hook.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "kvprtobj/helpers.h"

void twoByteSwap(void* p) { std::reverse(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + 2); }

void fourByteSwap(void* p) { std::reverse(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + 4); }

void nByteSwap(void* dst, const void* src, int n) {
    auto* d = static_cast<unsigned char*>(dst);
    auto* s = static_cast<const unsigned char*>(src);
    for (int i = 0; i < n; ++i) d[i] = s[n - 1 - i];
}

unsigned short MakeUSHORT(const void* p) {
    unsigned short v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

unsigned int MakeUINT(const void* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

unsigned long MakeULONG(const void* p) { return MakeUINT(p); }

unsigned short MakeUSHORT(void* p) { return MakeUSHORT(static_cast<const void*>(p)); }
unsigned int MakeUINT(void* p) { return MakeUINT(static_cast<const void*>(p)); }
unsigned long MakeULONG(void* p) { return MakeUINT(static_cast<const void*>(p)); }

unsigned char ReverseBits(unsigned char b) {
    unsigned char r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1u << i)) r |= static_cast<unsigned char>(0x80u >> i);
    return r;
}

unsigned char* kvPrtObjNew(unsigned long size) {
    try {
        return static_cast<unsigned char*>(::operator new(size));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void SizeToString(long n, char* text) {
    if (n < 1) {
        std::snprintf(text, kSizeToStringBuffer, "0");
        return;
    }
    long m = n / 1000000, t = (n % 1000000) / 1000, u = n % 1000;
    if (m != 0)
        std::snprintf(text, kSizeToStringBuffer, "%ld,%03ld,%03ld", m, t, u);
    else if (t != 0)
        std::snprintf(text, kSizeToStringBuffer, "%ld,%03ld", t, u);
    else
        std::snprintf(text, kSizeToStringBuffer, "%3ld", u);
}

void kvpoTrace(unsigned long) {}
