// Version text of our library files.
#include <cstdio>
#include <vector>

#include "kvprtobj/fw_version.h"
#include "kvprtobj/helpers.h"
#include "kvprtobj/prtobj.h"

void getKVDLLVersionNumber(CString path, CString* version) {
    version->clear();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data())) return;
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", &data, &length) || length == 0 || data == nullptr) return;
    auto* info = static_cast<const VS_FIXEDFILEINFO*>(data);
    unsigned msHi = info->dwFileVersionMS >> 16, msLo = info->dwFileVersionMS & 0xFFFF;
    unsigned lsHi = info->dwFileVersionLS >> 16, lsLo = info->dwFileVersionLS & 0xFFFF;
    char text[32];
    if (lsHi == 0 && lsLo == 0)
        std::snprintf(text, sizeof text, "%u.%02u", msHi, msLo);
    else
        std::snprintf(text, sizeof text, "%u.%02u.%02u.%02u", msHi, msLo, lsHi, lsLo);
    *version = text;
}

void KVPrtObj::getVersionNumber(CString directory, CString* version) {
    getKVDLLVersionNumber(directory + "/" + kKVPrtObjLibraryName, version);
}
