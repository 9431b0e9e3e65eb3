// Library start-up: registration as a framework extension module at load, and
// one more module record per InitKVPrtObjDll call.
#include <cstdio>
#include <cstdlib>

#include "engine/c_boundary.h"
#include "kvprtobj/fw_module.h"
#include "kvprtobj/prtobj.h"

namespace {
constexpr char kModuleName[] = "kvprtobj";

__attribute__((constructor)) void registerExtensionModule() {
    if (!AfxInitExtensionModule(kModuleName)) {
        std::fputs("libkvprtobj: extension-module registration failed\n", stderr);
        std::abort();   // a load whose registration fails must not go on
    }
}
}  // namespace

void InitKVPrtObjDll() {
    kvpo::cBoundary([] { AfxAddModuleRecord(kModuleName); });
}
