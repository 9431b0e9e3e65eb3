// Shared helpers exported by libkvprtobj: byte order, reply buffers, number
// formatting, version and install information, and the trace hook.
#pragma once

#include "kvprtobj/fw_base.h"

// Byte order. Printer replies are big-endian; these reverse fields in place,
// copy them reversed, or read them unaligned in host order.
KVPO_API void twoByteSwap(void* p);
KVPO_API void fourByteSwap(void* p);
// dst[i] = src[n-1-i]; `dst` and `src` must not overlap; nothing for n <= 0.
KVPO_API void nByteSwap(void* dst, const void* src, int n);
KVPO_API unsigned short MakeUSHORT(void* p);
KVPO_API unsigned int MakeUINT(void* p);
KVPO_API unsigned long MakeULONG(void* p);   // the same 32-bit value, widened
// The same reads of constant bytes.
KVPO_API unsigned short MakeUSHORT(const void* p);
KVPO_API unsigned int MakeUINT(const void* p);
KVPO_API unsigned long MakeULONG(const void* p);
KVPO_API unsigned char ReverseBits(unsigned char b);

// A new buffer of `size` bytes made with ::operator new, or null when memory is
// exhausted; never throws. Released with ::operator delete.
KVPO_API unsigned char* kvPrtObjNew(unsigned long size);

// The buffer size SizeToString needs for every long: the largest, 9223372036854775807,
// becomes "9223372036854,775,807", 21 characters and the terminator.
constexpr unsigned kSizeToStringBuffer = 22;
// Writes `n` with thousands separators: values below 1 give "0"; below 1000
// "%3d"; below a million "%d,%03d"; above "%ld,%03d,%03d" (millions are not
// grouped further). `text` must hold kSizeToStringBuffer bytes; no more is written.
KVPO_API void SizeToString(long n, char* text);

// The version text of the file at `path`: "major.minor" as "%d.%02d" when the
// last two parts are 0, else "%d.%02d.%02d.%02d"; empty when the file has no version.
KVPO_API void getKVDLLVersionNumber(CString path, CString* version);

// The install type of the host product, 0, 1 or 2, read once per process from
// the settings store (section "Settings", value "InstallType"; see fw_settings.h).
// A missing value or one above 2 gives 0.
KVPO_API int GetInstallType();
// 1 when the install type is 1 (the partner-only installation), else 0.
KVPO_API int IsVelkorOnlyInstall();

// A trace hook; it ignores its argument.
KVPO_API void kvpoTrace(unsigned long value);

// The file name of this library, as getVersionNumber looks for it.
constexpr const char kKVPrtObjLibraryName[] = "libkvprtobj.so";
