// File versions. Our shared objects carry their fixed file version (four 16-bit
// parts) in an ELF note; these calls read it back from any file by path, in the
// shape of the Windows version-resource calls. A file without the note has no
// version: GetFileVersionInfoSizeA returns 0.
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"

struct VS_FIXEDFILEINFO {
    uint32_t dwSignature;        // 0xFEEF04BD
    uint32_t dwStrucVersion;
    uint32_t dwFileVersionMS;    // major << 16 | minor
    uint32_t dwFileVersionLS;    // patch << 16 | build
    uint32_t dwProductVersionMS;
    uint32_t dwProductVersionLS;
};

KVPO_API DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle);
KVPO_API BOOL GetFileVersionInfoA(const char* path, DWORD handle, DWORD length, void* data);
// Only the root block "\\" is known: it yields the VS_FIXEDFILEINFO.
KVPO_API BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length);
