// Run-time library loading. LoadLibraryA looks for a bare file name beside
// libkvprtobj.so first, then on the loader's search path; a name with a '/' is
// loaded as given.
#pragma once

#include "kvprtobj/fw_base.h"

KVPO_API HMODULE LoadLibraryA(const char* name);
KVPO_API FARPROC GetProcAddress(HMODULE module, const char* name);
KVPO_API BOOL FreeLibrary(HMODULE module);
// The path of `module`'s file; a null module is the process's executable.
// Returns the length copied (truncated to size - 1), 0 on failure.
KVPO_API DWORD GetModuleFileNameA(HMODULE module, char* path, DWORD size);
// The directory (with a trailing '/') that holds libkvprtobj.so.
KVPO_API std::string AfxLibraryDirectory();
