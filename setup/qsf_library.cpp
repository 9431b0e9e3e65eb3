// Loading the Quick Setup file library and resolving its functions.
#include <cstdlib>

#include "kvprtobj/fw_library.h"
#include "setup/internal/notify.h"
#include "setup/internal/quicksetup_internal.h"

namespace kvqs {

const char* fileLibraryName() {
    const char* chosen = std::getenv("KVPRTOBJ_QSFLIB");
    return chosen != nullptr && *chosen != '\0' ? chosen : "libzutlib32.so." KVPO_SOVERSION;
}

unsigned long printerTypeOf(const KVPrtObj* printer) {
    unsigned long type = KVPrtObj::PRINTER_TYPE_UNKNOWN, subtype = 0;
    if (printer != nullptr) printer->getPrinterType(&type, &subtype);
    return type;
}

void notify(HWND window, unsigned event, long value) {
    PostNotifyMessage(window, static_cast<WPARAM>(event), static_cast<LPARAM>(value));
}

}  // namespace kvqs

QsfLibrary::QsfLibrary() : hModule(LoadLibraryA(kvqs::fileLibraryName())) {}

QsfLibrary::~QsfLibrary() { unload(); }

namespace {

template <typename Proc>
bool lookUp(HMODULE module, const char* name, Proc& proc) {
    proc = kvqs::procAddress<Proc>(module, name);
    return proc != nullptr;
}

}  // namespace

int QsfLibrary::resolveFunctions() {
    HMODULE m = hModule;
    bool all = m != nullptr && lookUp(m, "PtQsfOpen", pfnPtQsfOpen) && lookUp(m, "PtQsfClose", pfnPtQsfClose) &&
               lookUp(m, "PtQsfGetVariables", pfnPtQsfGetVariables) &&
               lookUp(m, "PtQsfIniGetSection", pfnPtQsfIniGetSection) && lookUp(m, "PtIniOpen2", pfnPtIniOpen2) &&
               lookUp(m, "PtIniClose", pfnPtIniClose) && lookUp(m, "PtMemFree", pfnPtMemFree) &&
               lookUp(m, "PtFilChecksum", pfnPtFilChecksum);
    if (all) return 1;
    clearFunctions();
    return 0;
}

void QsfLibrary::clearFunctions() {
    pfnPtQsfOpen = nullptr;
    pfnPtQsfClose = nullptr;
    pfnPtQsfGetVariables = nullptr;
    pfnPtQsfIniGetSection = nullptr;
    pfnPtIniOpen2 = nullptr;
    pfnPtIniClose = nullptr;
    pfnPtMemFree = nullptr;
    pfnPtFilChecksum = nullptr;
}

void QsfLibrary::unload() {
    if (hModule != nullptr) FreeLibrary(hModule);
    hModule = nullptr;
    clearFunctions();
}
