// The QuickSetup object, its static tables and initVars.
#include <mutex>

#include "kvprtobj/fw_library.h"
#include "setup/internal/quicksetup_internal.h"

CString QuickSetup::strConfigurationFile = "QSVARS.CFG";
CString QuickSetup::strOldQsfHeaders[12];
int QuickSetup::strHeadersInitialized = 0;
int QuickSetup::iOldVariableCount[12];

namespace {

// The header-word file of each printer type: its header word and number of
// variables; a count of 0 means the printer type has no such file.
struct HeaderWordFile {
    const char* header;
    int count;
};
constexpr HeaderWordFile kHeaderWordFiles[12] = {
    /* 0 */ {"BIDI", 70},
    /* 1 */ {"NUDBIDI", 74},
    /* 2 */ {"", 0},
    /* 3 */ {"PAJBIDI", 24},
    /* 4 */ {"KOVBIDI", 47},
    /* 5 */ {"HULPBIDI", 76},
    /* 6 */ {"TEVIBIDI", 99},
    /* 7 */ {"MOSKBIDI", 93},
    /* 8 */ {"DARLBIDI", 39},
    /* 9 */ {"VELKBIDI", 24},
    /* 10 */ {"", 0},
    /* 11 */ {"VELKBIDI", 24},
};

constexpr const char kConfigurationFileName[] = "QSVARS.CFG";

std::mutex g_initLock;

}  // namespace

void QuickSetup::initVars() {
    std::lock_guard guard(g_initLock);
    if (strHeadersInitialized) return;
    for (int t = 0; t < 12; ++t) {
        strOldQsfHeaders[t] = kHeaderWordFiles[t].header;
        iOldVariableCount[t] = kHeaderWordFiles[t].count;
    }
    strHeadersInitialized = 1;
    char path[4096];
    CString executable(path, GetModuleFileNameA(nullptr, path, sizeof path));
    strConfigurationFile = executable.substr(0, executable.rfind('/') + 1) + kConfigurationFileName;
}

QuickSetup::QuickSetup() {
    initVars();
    pLibrary = new QsfLibrary;
}

QuickSetup::QuickSetup(const QuickSetup& other) : fileFormat(other.fileFormat) {
    initVars();
    pLibrary = new QsfLibrary;
}

QuickSetup& QuickSetup::operator=(const QuickSetup& other) {
    fileFormat = other.fileFormat;   // each object keeps its own load of the file library
    return *this;
}

QuickSetup::~QuickSetup() {
    cleanUp();
    if (pLibrary != nullptr) {
        pLibrary->unload();
        delete pLibrary;
    }
}

void QuickSetup::cleanUp() {
    for (int k = 1; k <= 2; ++k) {
        if (pVariables[k] != nullptr && pLibrary != nullptr && pLibrary->pfnPtMemFree != nullptr)
            pLibrary->pfnPtMemFree(pVariables[k]);
        pVariables[k] = nullptr;
        usVariableCount[k] = 0;
    }
}
