#include "backend_loader.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace zorbce {
namespace {

using Factory = BcePrinter* (*)(const char* argument, char* message, unsigned long messageSize);

std::string directoryOfThisLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&createBackendPrinter), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The factory of `backend`, loaded once; the library stays loaded for the
// life of the process because its printers may be alive anywhere. A library
// that could not be loaded is tried again on the next open.
Factory loadFactory(const Backend& backend, std::string* error) {
    static std::mutex lock;
    static std::map<std::string, Factory> factories;
    std::lock_guard guard(lock);
    if (auto it = factories.find(backend.library); it != factories.end()) return it->second;
    const std::string dir = directoryOfThisLibrary();
    const std::string name = backend.library;
    const std::string candidates[] = {dir + name, dir + name + ".1", name + ".1", name};
    std::string why;
    for (const std::string& candidate : candidates) {
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            if (why.empty()) why = ::dlerror();
            continue;
        }
        auto factory = reinterpret_cast<Factory>(::dlsym(handle, backend.factory));
        if (factory) return factories[name] = factory;
        why = candidate + " has no " + backend.factory;
        ::dlclose(handle);
    }
    *error = std::string(backend.description) + " " + name + " cannot be loaded: " + why;
    return nullptr;
}

}  // namespace

long createBackendPrinter(const Backend& backend, const char* argument, std::shared_ptr<BcePrinter>* printer,
                          std::string* error) {
    Factory factory = loadFactory(backend, error);
    if (factory == nullptr) return BCE_E_NOT_SUPPORTED;
    char message[512] = "";
    BcePrinter* created = factory(argument, message, sizeof message);
    if (created == nullptr) {
        *error = message;
        return BCE_E_BAD_URI;
    }
    printer->reset(created);
    return BCE_OK;
}

}  // namespace zorbce
