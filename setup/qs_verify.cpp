// Recognising a Quick Setup file: a header-word file of the printer type, or
// a library file that the file library opens.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "setup/internal/quicksetup_internal.h"

namespace {

// Compares the first bytes of the file with `header`, read as a terminated
// text: KVQSRC_OK when equal, KVQSRC_READ_ERROR when the file is shorter than
// the header word, KVQSRC_NOT_QSF when different or the file does not open.
QuickSetup::KVQSRC checkHeaderWord(const CString& path, const CString& header) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return QuickSetup::KVQSRC_NOT_QSF;
    std::vector<char> start(header.size() + 1, '\0');
    if (std::fread(start.data(), 1, header.size(), file.get()) < header.size()) return QuickSetup::KVQSRC_READ_ERROR;
    return std::strcmp(start.data(), header.c_str()) == 0 ? QuickSetup::KVQSRC_OK : QuickSetup::KVQSRC_NOT_QSF;
}

}  // namespace

QuickSetup::KVQSRC QuickSetup::verifyQuickSetupFile(KVPrtObj* printer, const CString& path, FileFormat& format,
                                                    _QSFFILE** file) {
    kvqs::ModuleLoad library = kvqs::loadFileLibrary();
    if (library.get() == nullptr) return KVQSRC_NO_LIBRARY;
    auto open = kvqs::procAddress<PtQsfOpenProc>(library.get(), "PtQsfOpen");
    auto close = kvqs::procAddress<PtQsfCloseProc>(library.get(), "PtQsfClose");
    if (open == nullptr || close == nullptr) return KVQSRC_NO_LIBRARY;

    initVars();
    if (file != nullptr) *file = nullptr;

    KVQSRC rc = KVQSRC_NOT_QSF;
    const unsigned long type = kvqs::printerTypeOf(printer);
    if (type <= 11 && iOldVariableCount[type] != 0) {
        rc = checkHeaderWord(path, strOldQsfHeaders[type]);
        if (rc == KVQSRC_OK) format = QSF_HEADER_WORD;
    }
    if (rc != KVQSRC_NOT_QSF) return rc;

    _QSFFILE* opened = nullptr;
    int result = open(path.c_str(), type, &opened);
    if (result == 0) {
        format = QSF_LIBRARY;
        if (file != nullptr) *file = opened;
        else close(opened);
        return KVQSRC_OK;
    }
    return result == PTQSF_NOT_QSF ? KVQSRC_NOT_QSF : KVQSRC_READ_ERROR;
}
