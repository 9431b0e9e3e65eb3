// Pieces of Quick Setup shared by its sources: the file library's name, the
// printer type of a printer object, the worker's parameters and procedure.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kvprtobj/fw_library.h"
#include "kvprtobj/quicksetup.h"

namespace kvqs {

// The file library to load: $KVPRTOBJ_QSFLIB when set and not empty, else
// "libzutlib32.so.1", by its soname (a system with the run-time package only
// has no libzutlib32.so).
const char* fileLibraryName();

// The printer's type; 0xFFFFFFFF for a null printer.
unsigned long printerTypeOf(const KVPrtObj* printer);

// The function `name` of `module` as a `Proc`, or null.
template <typename Proc>
Proc procAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Proc>(GetProcAddress(module, name));
}

// A load of the file library that ends with its scope.
using ModuleLoad = std::unique_ptr<void, BOOL (*)(HMODULE)>;
inline ModuleLoad loadFileLibrary() { return ModuleLoad(LoadLibraryA(fileLibraryName()), &FreeLibrary); }

// Posts message 2024 to the worker's window (while it exists).
void notify(HWND window, unsigned event, long value);

// Everything a worker needs; created for each transfer and owned by its worker.
struct QSThreadParams {
    KVPrtObj* pPrtObj = nullptr;
    HWND hNotifyWnd = nullptr;
    CString strFile;
    KVQSThreadControl* pThreadControl = nullptr;
    unsigned int uNotifyInterval = 1;
    int bSend = 0;
    int bError = 0;
    int bCancel = 0;
    uint32_t ulProgress = 0;
    uint8_t header[QSF_HEADER_SIZE] = {};
    // The lists of the transfer, copied from the QuickSetup object: packed
    // records (id, length, value) for a send, 2-byte ids for a receive.
    std::vector<uint8_t> variables[3];
    uint16_t usVariableCount[3] = {0, 0, 0};
    QuickSetup::FileFormat fileFormat = QuickSetup::QSF_HEADER_WORD;
    QsfLibrary library;   // the worker's own load of the file library
};

// The worker's thread procedure; it takes ownership of its QSThreadParams.
unsigned quickSetupThread(void* params);

}  // namespace kvqs
