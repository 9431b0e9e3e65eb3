// Preparing a Quick Setup transfer on the caller's thread: send and receive
// read the variable lists and the step total, start hands them to a worker.
#include <memory>
#include <new>

#include "kvprtobj/fw_thread.h"
#include "kvprtobj/fw_window.h"
#include "setup/internal/quicksetup_internal.h"

namespace {

// The byte size of `count` packed records (2-byte id, length byte, value) as
// the file library hands them out.
size_t packedSize(const unsigned char* records, unsigned count) {
    size_t size = 0;
    for (unsigned i = 0; i < count; ++i) size += 3 + records[size + 2];
    return size;
}

}  // namespace

unsigned long QuickSetup::bidiQuickSetupSend(KVPrtObj* printer, const CString& path, HWND window,
                                             unsigned long* steps, KVQSThreadControl* control, unsigned int interval) {
    const unsigned long type = kvqs::printerTypeOf(printer);
    if (type == KVPrtObj::PRINTER_TYPE_UNKNOWN) return KVQSRC_UNKNOWN_PRINTER;
    cleanUp();
    if (pLibrary == nullptr || !pLibrary->resolveFunctions()) return KVQSRC_NO_LIBRARY;

    _QSFFILE* file = nullptr;
    KVQSRC rc = verifyQuickSetupFile(printer, path, fileFormat, &file);
    if (rc != KVQSRC_OK) {
        if (file != nullptr) pLibrary->pfnPtQsfClose(file);
        return rc;
    }
    unsigned long total;
    if (fileFormat == QSF_HEADER_WORD) {
        total = static_cast<unsigned long>(iOldVariableCount[type]);
    } else {
        if (pLibrary->pfnPtQsfGetVariables(file, 1, &pVariables[1], &usVariableCount[1]) != 0) {
            pLibrary->pfnPtQsfClose(file);
            cleanUp();
            return KVQSRC_READ_ERROR;
        }
        if (pLibrary->pfnPtQsfGetVariables(file, 2, &pVariables[2], &usVariableCount[2]) != 0) usVariableCount[2] = 0;
        total = usVariableCount[1] + usVariableCount[2];
        pLibrary->pfnPtQsfClose(file);
    }
    if (interval == 0) interval = 1;
    if (steps != nullptr) *steps = total / interval;
    return bidiQuickSetupStart(printer, path, window, control, interval, 1);
}

unsigned long QuickSetup::bidiQuickSetupReceive(KVPrtObj* printer, const CString& path, HWND window,
                                                unsigned long* steps, KVQSThreadControl* control,
                                                unsigned int interval) {
    const unsigned long type = kvqs::printerTypeOf(printer);
    if (type == KVPrtObj::PRINTER_TYPE_UNKNOWN) return KVQSRC_UNKNOWN_PRINTER;
    cleanUp();
    if (pLibrary == nullptr || !pLibrary->resolveFunctions()) return KVQSRC_NO_LIBRARY;

    const CString configuration = strConfigurationFile;
    _QSFINI* ini = pLibrary->pfnPtIniOpen2(configuration.c_str(), 1);
    if (ini == nullptr) return KVQSRC_READ_ERROR;
    if (pLibrary->pfnPtQsfIniGetSection(ini, 1, type, &pVariables[1], &usVariableCount[1]) != 0 ||
        usVariableCount[1] == 0) {
        pLibrary->pfnPtIniClose(ini);
        cleanUp();
        return KVQSRC_READ_ERROR;
    }
    if (pLibrary->pfnPtQsfIniGetSection(ini, 2, type, &pVariables[2], &usVariableCount[2]) != 0)
        usVariableCount[2] = 0;
    pLibrary->pfnPtIniClose(ini);

    if (interval == 0) interval = 1;
    if (steps != nullptr) *steps = (usVariableCount[1] + usVariableCount[2]) / interval;
    return bidiQuickSetupStart(printer, path, window, control, interval, 0);
}

unsigned long QuickSetup::bidiQuickSetupStart(KVPrtObj* printer, const CString& path, HWND window,
                                              KVQSThreadControl* control, unsigned int interval, int direction) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    unsigned long rc = KVQSRC_OK;
    if (window == nullptr) {
        rc = KVQSRC_NO_WINDOW;
    } else {
        std::unique_ptr<kvqs::QSThreadParams> params;
        try {
            params = std::make_unique<kvqs::QSThreadParams>();
            params->pPrtObj = printer;
            params->hNotifyWnd = window;
            params->strFile = path;
            params->pThreadControl = control;
            params->uNotifyInterval = interval;
            params->bSend = direction;
            params->fileFormat = fileFormat;
            for (int k = 0; k < 3; ++k) {
                if (pVariables[k] == nullptr) continue;
                size_t size = direction ? packedSize(pVariables[k], usVariableCount[k]) : 2ul * usVariableCount[k];
                params->variables[k].assign(pVariables[k], pVariables[k] + size);
                params->usVariableCount[k] = usVariableCount[k];
            }
        } catch (const std::bad_alloc&) {
            params.reset();
        }
        CWinThread* thread = params ? AfxBeginThread(kvqs::quickSetupThread, params.get(), THREAD_PRIORITY_NORMAL, 0,
                                                     CREATE_SUSPENDED)
                                    : nullptr;
        if (thread == nullptr) {
            rc = KVQSRC_NO_THREAD;
        } else {
            params.release();   // the worker owns it now
            thread->ResumeThread();
        }
    }
    cleanUp();   // the worker has copies of the lists
    return rc;
}
