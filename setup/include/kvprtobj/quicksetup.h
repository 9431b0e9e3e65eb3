// Quick Setup: copies a set of printer settings (object-model variables, id
// and value) from a printer into a file, or from a file into a printer. The
// caller's thread prepares a transfer; one worker thread moves the variables
// one by one through the printer object and reports to a host window with
// message 2024 (kNotifyMessage): (QSN_PROGRESS, step), (QSN_ERROR, code) and,
// always last, (QSN_FINISHED, 0).
//
// Files come in two formats (FileFormat): the header-word file, which begins
// with the header word of the printer type and holds records "id value :"
// (read only), and the library file that a receive writes (layout in
// zutlib32.h). The variables a receive reads are listed per printer type in
// the configuration file "QSVARS.CFG" beside the running executable.
//
// The file library. libzutlib32.so is loaded at run time by name, beside
// libkvprtobj.so first, then on the loader's path. The environment variable
// KVPRTOBJ_QSFLIB, when set and not empty, names another file to load
// instead (a path, or a bare name looked up the same way). Each QuickSetup
// object, each worker and each verifyQuickSetupFile call holds a load of its
// own, so none of them depends on another's lifetime.
//
// Choices made here:
// - Concurrent verifications: verifyQuickSetupFile loads the file library
//   into a handle local to the call (the loader counts loads), so calls on
//   several threads never share a module handle; initVars fills the static
//   tables under a lock, once.
// - Copies: a copy of a QuickSetup loads the file library anew and owns that
//   load; it takes the file format, never the variable lists (which the
//   object holds only while a transfer is prepared).
// - Paths are passed to the file library whole, however long.
// - A null printer is an unknown printer type (5); an interval of 0 is taken
//   as 1; `steps` may be null.
// - The worker takes copies of the variable lists; the object releases its
//   own lists before bidiQuickSetupSend or bidiQuickSetupReceive returns,
//   whatever the result. When the thread cannot be started (4) the worker's
//   parameters are released at once.
// - The worker releases everything it holds (parameters, lists, its load of
//   the file library) before it posts (QSN_FINISHED, 0), so a host that has
//   seen that message may unload the library. The host keeps the window's
//   thread and the KVQSThreadControl alive until then.
// - Header-word file records shorter than the 2-byte id are not sent and do
//   not count as handled variables; the send goes on with the next record.
// - A receive stores values of up to 255 bytes whole (the record's length
//   byte); a longer value, or a reply without its echoed id, counts as a
//   failed read (list 1: (QSN_ERROR, QSE_VARIABLE) and no file is written;
//   list 2: passed over).
// - A receive writes its file under a name of its own in the target's folder
//   (the target's name followed by ".part-" and a number) and renames it into
//   place only when the last header write and the checksum succeeded; a
//   receive that fails (QSE_WRITE when those final steps fail) or is stopped
//   deletes that file, and whatever was at the target stays as it was. An
//   existing target replaced keeps its permissions. A target that exists and
//   is not a regular file (a symbolic link, a device, a folder) is refused
//   with (QSN_ERROR, QSE_OPEN) and left alone: no file a link points to is
//   ever written.
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"
#include "kvprtobj/fw_window.h"
#include "kvprtobj/prtobj.h"
#include "kvprtobj/zutlib32.h"

class KVQSThreadControl;

// One load of the file library and its eight functions.
class KVPO_API QsfLibrary {
public:
    // Loads the file library (see above); every function pointer is null
    // until resolveFunctions.
    QsfLibrary();
    ~QsfLibrary();
    QsfLibrary(const QsfLibrary&) = delete;
    QsfLibrary& operator=(const QsfLibrary&) = delete;

    // Looks the eight functions up by name, in the order of the members
    // below; 1 when all were found, else 0 with every pointer null (0 too
    // when the library is not loaded).
    int resolveFunctions();
    // Frees the library; the handle and every pointer become null.
    void unload();

    HMODULE hModule = nullptr;
    PtQsfOpenProc pfnPtQsfOpen = nullptr;
    PtQsfCloseProc pfnPtQsfClose = nullptr;
    PtQsfGetVariablesProc pfnPtQsfGetVariables = nullptr;
    PtQsfIniGetSectionProc pfnPtQsfIniGetSection = nullptr;
    PtIniOpen2Proc pfnPtIniOpen2 = nullptr;
    PtIniCloseProc pfnPtIniClose = nullptr;
    PtMemFreeProc pfnPtMemFree = nullptr;
    PtFilChecksumProc pfnPtFilChecksum = nullptr;

private:
    void clearFunctions();
};

class KVPO_API QuickSetup {
public:
    enum FileFormat : int { QSF_HEADER_WORD = 0, QSF_LIBRARY = 1 };

    // Results of verifyQuickSetupFile, bidiQuickSetupSend and bidiQuickSetupReceive.
    enum KVQSRC {
        KVQSRC_OK = 0,
        KVQSRC_READ_ERROR = 1,       // the file or the configuration could not be read
        KVQSRC_NOT_QSF = 2,          // not a Quick Setup file for this printer type
        KVQSRC_NO_WINDOW = 3,
        KVQSRC_NO_THREAD = 4,
        KVQSRC_UNKNOWN_PRINTER = 5,  // printer type 0xFFFFFFFF, or no printer
        KVQSRC_NO_LIBRARY = 6        // the file library is missing or lacks a function
    };

    // The message the workers post, its events (wParam) and error codes (lParam of QSN_ERROR).
    static constexpr UINT kNotifyMessage = 2024;
    enum KVQSNOTIFY { QSN_PROGRESS = 9, QSN_FINISHED = 10, QSN_ERROR = 0x8001 };
    enum KVQSERROR {
        QSE_LIBRARY = 1,    // the worker's file library lacks a function, or no memory for a header-word file
        QSE_READ = 16,      // a header-word file could not be read whole
        QSE_WRITE = 17,     // writing the received file failed
        QSE_OPEN = 18,      // the file could not be opened (read for a send, created for a receive: the
                            // folder refuses it, or the target exists and is not a regular file)
        QSE_NOT_QSF = 20,   // verification on the worker: not a Quick Setup file for this printer
        QSE_VERIFY = 21,    // verification on the worker failed otherwise
        QSE_VARIABLE = 33   // a list-1 or header-word variable was refused (send) or could not be read (receive)
    };

    // Runs initVars and loads the file library.
    QuickSetup();
    QuickSetup(const QuickSetup& other);
    QuickSetup& operator=(const QuickSetup& other);
    ~QuickSetup();

    // Fills the printer-type table and strConfigurationFile (the directory of
    // the running executable followed by "QSVARS.CFG"), once per process.
    static void initVars();

    // Tells the format of the Quick Setup file at `path` for the printer's
    // type: 0 with `format` set; 1 when the file is shorter than the header
    // word or the file library cannot read it; 2 when it is not a Quick Setup
    // file for this printer type; 6 when the file library is missing or lacks
    // PtQsfOpen or PtQsfClose. With `file` given, a library file stays open
    // there (null otherwise); it stays valid while another load of the file
    // library (a QuickSetup object's) lives, and is closed with PtQsfClose.
    static KVQSRC verifyQuickSetupFile(KVPrtObj* printer, const CString& path, FileFormat& format, _QSFFILE** file);

    // Start a transfer and return at once: a send copies the variables of the
    // file at `path` into the printer, a receive reads the variables that the
    // configuration names for the printer's type into a new file at `path`.
    // `*steps` receives the number of progress messages to expect (the number
    // of variables divided by `interval`). Results are KVQSRC values; no
    // message is posted for a non-zero result. The pending messages of the
    // calling thread are dispatched before the worker starts. The object may
    // be destroyed as soon as the call returns. With `control` given, its
    // action KVTA_STOP stops the worker after the current variable.
    unsigned long bidiQuickSetupSend(KVPrtObj* printer, const CString& path, HWND window, unsigned long* steps,
                                     KVQSThreadControl* control, unsigned int interval);
    unsigned long bidiQuickSetupReceive(KVPrtObj* printer, const CString& path, HWND window, unsigned long* steps,
                                        KVQSThreadControl* control, unsigned int interval);

    static CString strConfigurationFile;
    static CString strOldQsfHeaders[12];
    static int strHeadersInitialized;
    static int iOldVariableCount[12];

protected:
    QsfLibrary* pLibrary = nullptr;
    unsigned char* pVariables[3] = {nullptr, nullptr, nullptr};   // lists 0 to 2 of the transfer being prepared
    uint16_t usVariableCount[3] = {0, 0, 0};
    FileFormat fileFormat = QSF_HEADER_WORD;

private:
    unsigned long bidiQuickSetupStart(KVPrtObj* printer, const CString& path, HWND window,
                                      KVQSThreadControl* control, unsigned int interval, int direction);
    // Releases lists 1 and 2 with PtMemFree and clears the lists and counts.
    void cleanUp();
};

// A counting semaphore with a maximum, for guarding data shared with a worker.
class KVPO_API KVThreadControl {
public:
    // A semaphore with initial and maximum count `count`; the maximum is 0
    // when it could not be created, and lock and unlock then do nothing.
    explicit KVThreadControl(unsigned long count = 1);
    virtual ~KVThreadControl();
    KVThreadControl(const KVThreadControl&) = delete;
    KVThreadControl& operator=(const KVThreadControl&) = delete;

    // Waits, without time-out, for min(count, maximum) units.
    virtual void lock(unsigned long count);
    // Releases min(count, maximum) units at once.
    virtual void unlock(unsigned long count);

protected:
    HANDLE m_hSemaphore = nullptr;
    uint32_t m_dwMaxCount = 0;
};

// The host's handle on a running Quick Setup worker. The library reads only
// the action (KVTA_STOP asks the worker to stop); the other members are kept
// for the host. The host keeps the object alive until the worker has posted
// (QSN_FINISHED, 0).
class KVPO_API KVQSThreadControl : public KVThreadControl {
public:
    enum KVThreadAction : int { KVTA_NONE = 0, KVTA_STOP = 2 };

    // `windowParam` is kept only when `window` is not null.
    KVQSThreadControl(CString text, KVPrtObj::OMVARIABLE* variables, unsigned int variableCount, KVPrtObj* printer,
                      int value, const HWND window, unsigned int windowParam, KVThreadAction action);
    ~KVQSThreadControl() override;

    // Read and write the action under the semaphore (count 1).
    KVThreadAction getKVThreadAction() const;
    void setKVThreadAction(KVThreadAction action);

    int m_nValue;
    CString m_strText;
    KVPrtObj::OMVARIABLE* m_pVariables;
    unsigned int m_uVariableCount;
    KVPrtObj* m_pPrtObj;

protected:
    KVThreadAction m_eAction;   // only through getKVThreadAction and setKVThreadAction

public:
    HWND m_hWnd;
    unsigned int m_uWindowParam;
};
