#include "sim_loader.h"

#include <dlfcn.h>

#include <mutex>

namespace zorbce {
namespace {

using Factory = BcePrinter* (*)(const char* profilePath, char* message, unsigned long messageSize);

std::string directoryOfThisLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&createSimulatedPrinter), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The factory, loaded once; the library stays loaded for the life of the
// process because its printers may be alive anywhere.
Factory loadFactory(std::string* error) {
    static std::mutex lock;
    static Factory factory = nullptr;
    std::lock_guard guard(lock);
    if (factory) return factory;
    const std::string dir = directoryOfThisLibrary();
    const std::string candidates[] = {dir + "libkvprtsim.so", dir + "libkvprtsim.so.1", "libkvprtsim.so.1",
                                      "libkvprtsim.so"};
    std::string why;
    for (const std::string& name : candidates) {
        void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            if (why.empty()) why = ::dlerror();
            continue;
        }
        factory = reinterpret_cast<Factory>(::dlsym(handle, "kvprtsim_create"));
        if (factory) return factory;
        why = name + " has no kvprtsim_create";
        ::dlclose(handle);
    }
    *error = "the simulated printer library libkvprtsim.so cannot be loaded: " + why;
    return nullptr;
}

}  // namespace

long createSimulatedPrinter(const char* profilePath, std::shared_ptr<BcePrinter>* printer, std::string* error) {
    Factory factory = loadFactory(error);
    if (factory == nullptr) return BCE_E_NOT_SUPPORTED;
    char message[512] = "";
    BcePrinter* created = factory(profilePath, message, sizeof message);
    if (created == nullptr) {
        *error = message;
        return BCE_E_BAD_URI;
    }
    printer->reset(created);
    return BCE_OK;
}

}  // namespace zorbce
