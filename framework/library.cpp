#include "kvprtobj/fw_library.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

std::string AfxLibraryDirectory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&AfxLibraryDirectory), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

HMODULE LoadLibraryA(const char* name) {
    if (name == nullptr || *name == '\0') return nullptr;
    if (std::strchr(name, '/') == nullptr) {
        std::string beside = AfxLibraryDirectory() + name;
        if (::access(beside.c_str(), F_OK) == 0)
            if (void* h = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<FARPROC>(::dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) { return module != nullptr && ::dlclose(module) == 0 ? TRUE : FALSE; }

DWORD GetModuleFileNameA(HMODULE module, char* path, DWORD size) {
    if (path == nullptr || size == 0) return 0;
    std::string file;
    if (module == nullptr) {
        char buf[4096];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) return 0;
        file.assign(buf, static_cast<size_t>(n));
    } else {
        struct link_map* map = nullptr;
        if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) return 0;
        file = map->l_name;
    }
    size_t n = file.size() < size - 1 ? file.size() : size - 1;
    std::memcpy(path, file.data(), n);
    path[n] = '\0';
    return static_cast<DWORD>(n);
}
