// KVPrtObj: one object stands for one printer known to the communication
// engine by a 16-bit handle. Every request goes through the virtual bidiQuery,
// every alert read through the virtual bidiQueryAlert, so a host class derived
// from KVPrtObj that overrides them changes every operation that uses them.
//
// Result codes of the bidi* operations: 0 success; -2 bad reply; -3 invalid
// request or data; -10, -16, -17 channel down; -11 bidi not active; -18 no
// memory, buffer too small or a missing record argument; -30 to -33 device
// storage management (kvprtobj/kvprm.h); other negative engine codes pass
// through unchanged (BceResultText gives words for every code).
//
// Ownership: byte buffers the operations return (replies, variable values,
// alert data) are made with ::operator new and released by the caller with
// ::operator delete; arrays of records with text members with new[] / delete[];
// single objects with new / delete.
//
// The order of the virtual functions below is part of the interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kvprtobj/fw_base.h"
#include "kvprtobj/records_devchars.h"
#include "kvprtobj/records_printer.h"
#include "kvprtobj/records_setup.h"
#include "kvprtobj/records_status.h"
#include "kvprtobj/zorbce.h"

class JOBINFOSTRINGS;   // kvprtobj/jobs.h
class JSALERTDATA;      // kvprtobj/jsalert.h
class KVPrtObj;

namespace kvpo {   // the library's own helpers (prtobj/internal/ask.h)
struct Asked;
inline Asked readAlert(KVPrtObj& printer, unsigned short alertId, unsigned long family);
}  // namespace kvpo

class KVPO_API KVPrtObj : public CObject {
public:
    // The records of the operations, by subsystem (kvprtobj/records_*.h).
    // Printer object: capabilities, identity, page counts (records_printer.h).
    using BIDICAPABILITIES = kvrec::BIDICAPABILITIES;
    using CONNECTIONKIND = kvrec::CONNECTIONKIND;
    using enum kvrec::CONNECTIONKIND;
    using PSFTYPES = kvrec::PSFTYPES;
    using enum kvrec::PSFTYPES;
    using KVNETACCESSLEVEL = kvrec::KVNETACCESSLEVEL;
    using enum kvrec::KVNETACCESSLEVEL;
    using PAGECOUNTDATA = kvrec::PAGECOUNTDATA;
    // Alerts and status (records_status.h).
    using KVPALERTDATA = kvrec::KVPALERTDATA;
    using PRTALERTS = kvrec::PRTALERTS;
    using UIRALERTS = kvrec::UIRALERTS;
    using OPPANELDATA = kvrec::OPPANELDATA;
    using PRINTERSTATUS = kvrec::PRINTERSTATUS;
    using OMVAREVENTDATA = kvrec::OMVAREVENTDATA;
    // Device characteristics (records_devchars.h).
    using DEVICECHARS = kvrec::DEVICECHARS;
    using InputBinId = kvrec::InputBinId;
    using enum kvrec::InputBinId;
    using INPUTBIN = kvrec::INPUTBIN;
    using INPUTCHARS = kvrec::INPUTCHARS;
    using OutputBinId = kvrec::OutputBinId;
    using enum kvrec::OutputBinId;
    using OUTPUTBIN = kvrec::OUTPUTBIN;
    using STORAGEOPTIONS = kvrec::STORAGEOPTIONS;
    // Configuration, jobs, setup and device storage (records_setup.h); the
    // keyed items of a job-information text (kvprtobj/jobs.h).
    using CODELEVELS = kvrec::CODELEVELS;
    using PROPERTYTAG = kvrec::PROPERTYTAG;
    using KVPJOBDATA = kvrec::KVPJOBDATA;
    using OMVARIABLE = kvrec::OMVARIABLE;
    using DEVICEID = kvrec::DEVICEID;
    using enum kvrec::DEVICEID;
    using DEVICEMGMTALERTDATA = kvrec::DEVICEMGMTALERTDATA;
    using DEVICEDIRECTORYDATA = kvrec::DEVICEDIRECTORYDATA;
    using JOBINFOSTRINGS = ::JOBINFOSTRINGS;

    // Printer types as the three-argument constructor and bidiGetPrinterType know them.
    static constexpr unsigned long PRINTER_TYPE_0 = 0;
    static constexpr unsigned long PRINTER_TYPE_1 = 1;
    static constexpr unsigned long PRINTER_TYPE_UNKNOWN = 0xFFFFFFFF;

    // Reply buffer sizes of the transport.
    static constexpr unsigned long kDefaultReplySize = 2048;
    static constexpr unsigned long kMaxReplySize = 64000;
    static constexpr unsigned long kAlertBufferSize = 2048;

    // ---- prtobj/
    KVPrtObj();
    KVPrtObj(unsigned short handle, int initialize);
    KVPrtObj(unsigned short handle, unsigned long printerType, int initialize);
    KVPrtObj(const KVPrtObj&) = delete;
    ~KVPrtObj() override;

    // Copies everything but the lock, the object type and the network type;
    // the retry count last, the notification window through setNotificationWindow.
    // operator=, bidiSetPropertyTag, bidiSetFormName and bidiSetOutputBinNickname
    // take constant references where a plain reference is declared: every call
    // written against the declaration compiles as it stands.
    KVPrtObj& operator=(const KVPrtObj& other);

    // The results declared constant keep their qualifier (a host overriding a
    // member or taking its address with the declared type compiles), though
    // it changes nothing for a value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
    const PSFTYPES getPsfType() const { return m_ePsfType; }
    const CString& getPsfHeader() const { return m_strPsfHeader; }
    const int getKVPrtObjType() const { return m_nObjType; }
    const unsigned int getBidiQueryNetType() const { return m_uBidiQueryNetType; }
    const unsigned short getBCEHandle() const { return m_usBceHandle; }
    void setBceAppId(short appId) { m_sBceAppId = appId; }
    // Why requests are refused with -11. Contract: prtobj/transport.cpp (moveBidiFlag).
    long getBidiFailure() const { return m_lBidiFailure.load(); }

    // 1 when `netType` is valid for this printer (see isValidNetType in the transport).
    const int isValidNetType(unsigned int netType) const;
    // Stores `netType`, or 0 when it is not valid for this printer; returns what was stored.
    const unsigned int setBidiQueryNetType(unsigned int netType) const;

    // Printer identity (engine calls, no bidi request).
    const long getPrinterInfo(PRTINFO* info) const;
    const long getBCENetAddress(NETADDRESS_LEVEL2* address, unsigned int netType) const;
    const KVNETACCESSLEVEL getNetAccessLevel(unsigned int value) const;
#pragma GCC diagnostic pop

    // Remote offline/online (request 0x8D).
    long SendRemoteOffline();
    long SendRemoteOnline();

    // ---- alerts/
    // Appends one entry to an alert list of `*count` entries: the list is
    // reallocated to exactly `*count + 1` entries (::operator new, the old one
    // released with ::operator delete) and `*count` grows by 1; a null list
    // must come with count 0. Returns 1. Memory exhaustion throws
    // std::bad_alloc to the caller; entries added before stay in the list.
    KVPO_LOCAL int addAlert(KVPALERTDATA** list, unsigned short id, unsigned short value, unsigned int* count);

    // ---- devchars/
    // Device characteristics (rules: kvprtobj/records_devchars.h).
    // Symbol sets (request 0x95). Contract: devchars/fonts.cpp.
    long bidiGetSymbolSetList(unsigned short* count, _SYMBOLSET** sets);
    // The current font (request 0x96): writes byFontTag, usPosition,
    // usSymbolSet and ulSize only. A reply shorter than 10 bytes gives -2 and
    // leaves the record untouched.
    long bidiGetCurrentFontInformation(_FONTDETAILS* font);
    // Sets the current font (request 0x97) from byFontTag, usPosition,
    // usSymbolSet and ulSize of `font` (only read); *status receives the
    // printer's status byte. A reply shorter than 2 bytes gives -2, *status untouched.
    long bidiSetCurrentFontInformation(_FONTDETAILS* font, unsigned char* status);

    // ---- setup/
    // Writes the property tag (object-model variable 07 54): the result of bidiSetOMVar.
    long bidiSetPropertyTag(const CString& tag);

    // Custom names of forms (requests 0x8F, 0x91) and output bins (0x8E, 0x92).
    // A read hands over a new array (delete[]) of *count names; with a count of
    // 0 the array pointer is not touched. A reply too short for the count or
    // for an entry it announces gives -2 with both outputs untouched; null
    // output pointers give -18 and nothing is sent.
    long bidiGetFormNames(_CUSTOMNAME** names, unsigned short* count);
    long bidiGetOutputBinNicknames(_CUSTOMNAME** names, unsigned short* count);
    // A write sends the name with a terminating 0 byte behind a length byte
    // holding its length + 1; a name of 255 characters or more does not fit
    // that byte and is refused with -3 (nothing is sent).
    long bidiSetFormName(unsigned short number, const CString& name);
    long bidiSetOutputBinNickname(unsigned short number, const CString& name);

    // ---- virtual functions, in table order; each run under the folder implementing it ----
    // ---- prtobj/
    virtual int validVelkorProtocols();
    virtual void getPrinterType(unsigned long* type, unsigned long* subtype) const;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
    virtual const int getBidiCaps(BIDICAPABILITIES* caps) const;
#pragma GCC diagnostic pop
    virtual long bidiInitialize(int bRefresh);
    virtual long bidiQueryCaps(BIDICAPABILITIES* caps, int bRefresh);
    virtual long bidiGetPrinterFamily(unsigned long* family);
    virtual long bidiGetPrinterInfo(PRTINFO* info);
    virtual long bidiGetPrinterType(unsigned long* type, unsigned long* rawType);
    // ---- devchars/
    // Device characteristics (request 0x10). Contract: devchars/devicechars.cpp.
    virtual long bidiGetDeviceChars(DEVICECHARS* chars);
    // ---- prtobj/
    virtual long bidiGetPageCounts(PAGECOUNTDATA* counts);
    // ---- devchars/
    // Storage devices (request 0x14). Contract: devchars/storage.cpp.
    virtual long bidiGetStorageOptions(STORAGEOPTIONS* options);
    // ---- setup/
    // Code levels of the components (miscellaneous variable 00 A6). Contract: setup/codelevels.cpp.
    virtual long bidiGetCodeLevels(int& count, CODELEVELS** levels);
    // Request 0x9B, sent even while bidi is marked inactive: flags[p] = 1 for
    // every port p < n that the printer lists, all other flags 0. A negative n
    // is taken as 0 (no flags). A null `flags` gives -18 and nothing is sent.
    virtual long bidiGetAvailablePorts(int n, int* flags);
    // Request 0x34, sent even while bidi is marked inactive; the reply is not examined.
    virtual long bidiLoopBack();
    // ---- devchars/
    // Input bins (request 0x12). Contract: devchars/input_bins.cpp.
    virtual long bidiGetInputChars(unsigned int* count, INPUTBIN** bins);
    // Output bins (request 0x13). Contract: devchars/output_bins.cpp.
    virtual long bidiGetOutputChars(unsigned int* count, OUTPUTBIN** bins);
    // ---- prtobj/
    virtual long bidiResetHostPageCount();
    virtual long bidiPORPrinter();
    virtual long bidiResetNVRAM();

    // ---- alerts/
    // Device status (request 1) and device-status alerts (family 0x5F4):
    // decoded by parseDeviceStatusData. -18 for a null record, nothing sent;
    // a failure leaves the record untouched, and so does a success without
    // data. Status data shorter than its three bytes gives -2, record untouched.
    virtual long bidiQueryDSAAlert(unsigned short alertId, PRINTERSTATUS* status);
    virtual long bidiQueryDeviceStatus(PRINTERSTATUS* status);

    // The alert families: list and summary forms (rules: kvprtobj/records_status.h).
    virtual long bidiQueryInputStatus(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryInputStatus(PRTALERTS* alerts);
    virtual long bidiQueryOutputStatus(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryOutputStatus(PRTALERTS* alerts);
    virtual long bidiQueryPaperJams(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryPaperJams(PRTALERTS* alerts);
    virtual long bidiQueryOperatorIV(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryOperatorIV(PRTALERTS* alerts, UIRALERTS* interventions);
    virtual long bidiQueryWarnings(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryWarnings(PRTALERTS* alerts);
    virtual long bidiQueryServiceReq(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryServiceReq(PRTALERTS* alerts);
    virtual long bidiQueryConfigChg(unsigned int* count, KVPALERTDATA** list);
    virtual long bidiQueryConfigChg(PRTALERTS* alerts);
    virtual long bidiQuerySupplies(unsigned int* count, KVPALERTDATA** list);
    // Never clears bit 12 (it shares it with the warnings summary): clear it first
    // for the supplies reply alone.
    virtual long bidiQuerySupplies(PRTALERTS* alerts);
    virtual long bidiQuerySuppliesStatus(unsigned int* count, KVPALERTDATA** list);

    // The remote operator panel. The lock is object-model variable 00 4D; a
    // lock read whose value byte is missing gives -2 with `*locked` untouched.
    // Setting the lock presses button 0x40 after a successful write.
    virtual long bidiROPQueryLock(int* locked);
    virtual long bidiROPSetLock(int lock);
    virtual long bidiROPPushButton(unsigned long button);   // sends the low byte only
    // Panel text by request (0x43) or by alert (family 0x5F7). Contract: alerts/op_panel.cpp.
    virtual long bidiROPQueryData(void** panel);
    virtual long bidiROPQueryAlert(unsigned short alertId, void** panel);
    // Reset (0x00 0xB1) and continue (0x00 0xB0), request 0x57: -2 unless the
    // reply's bytes 1 and 2 echo 0x00 and the second request byte.
    virtual long bidiROPReset();
    virtual long bidiROPContinue();
    // ---- prtobj/
    virtual long bidiSetOMVar(unsigned char* id, void* value, unsigned long length);
    virtual long bidiReadOMVar(unsigned char* id, void** value, unsigned long* length);
    virtual unsigned long bidiReadMultiOMVars(unsigned char* ids, unsigned short count, _MULTIOMVAR** vars,
                                              unsigned short* varCount);
    virtual long bidiReadMiscVar(unsigned char* id, void** value, unsigned long* length, int bForce);

    // ---- alerts/
    // Object-model variable event alert (family 0x5FE). Contract: alerts/device_status.cpp.
    virtual long bidiQueryOMVarEventAlert(unsigned short alertId, void* event);
    // ---- setup/
    // Reads a job-transition alert (family 0x5FD) into the KVPJOBDATA at `job`.
    // Data that do not begin 03 20, or whose job record is cut short or has job
    // number 0, give -2 (a cut record leaves the job untouched). A null `job`
    // gives -18 and nothing is read.
    virtual long bidiQueryJobTranAlert(unsigned short alertId, void* job);
    // ---- alerts/
    // The raw data of a toner alert (family 0x600): on success `data` is a new
    // buffer of `length` bytes that the caller releases with ::operator delete.
    virtual long bidiQueryTonerAlert(unsigned short alertId, unsigned char*& data, unsigned long& length);
    // Reads a job-status alert (family 0x5F6) into `data` (see kvprtobj/jsalert.h).
    virtual long bidiJSQueryAlert(unsigned short alertId, JSALERTDATA& data);
    // ---- setup/
    // Device storage management: each member hands its arguments, unchanged
    // and in order, to the libkvprm function of the same purpose with this
    // object, and returns that function's result unchanged (kvprtobj/kvprm.h
    // gives requests, results and how a host reads a listing).
    virtual long bidiDeviceFileListing(DEVICEID device);                // bidiResMgmtFileListing
    virtual long bidiDeviceFormat(DEVICEID device);                     // bidiResMgmtFormat
    virtual long bidiDeviceDeleteFile(const CString& name, DEVICEID device);   // bidiResMgmtDeleteFile
    virtual long bidiDeviceCopyFile(const CString& name, DEVICEID source, DEVICEID target,
                                    int bReplace);                      // bidiResMgmtCopyFile
    virtual long bidiDeviceQueryAlert(unsigned short alertId, void* alert);   // bidiResMgmtQueryAlert
    // Forwards to parseResMgmtDirectoryData, handing it a copy of `data` of its own.
    virtual long parseDeviceDirectoryData(CString data, DEVICEDIRECTORYDATA* directory);
    // ---- prtobj/
    virtual void setUserData(unsigned long data);   // kept as 32 bits
    virtual unsigned long getUserData();
    virtual void getVersionNumber(CString directory, CString* version);
    virtual void setNotificationWindow(HWND window);
    virtual void setBidi(int bActive);
    // ---- setup/
    // Jobs (request 0x75): one, or with job number 0 all. Contract: setup/jobs.cpp.
    virtual long bidiQueryJobs(unsigned short jobNumber, unsigned int* count, KVPJOBDATA** jobs);
    // Request 0x76 (flag 0) or 0x77 (any other flag) without reply.
    virtual long bidiDeleteJob(unsigned short jobNumber, int flag);
    // Request 0x98; *answer receives the reply's first byte (0 without one).
    // A null `answer` gives -18 and nothing is sent.
    virtual long bidiChangeJobPriority(unsigned char priority, unsigned short jobNumber, unsigned char* answer);
    // ---- devchars/
    // The logical unit of interpreter 1..5 (request 0x20). Contract: devchars/fonts.cpp.
    virtual long bidiGetInterpreterLU(unsigned char interpreter, unsigned char* lu);
    // The font list (request 0x21). Contract: devchars/fonts.cpp.
    virtual long bidiGetFontDetails(unsigned char selector1, unsigned char selector2, unsigned short* count,
                                    _FONTDETAILS** fonts);
    // Parses one font description into `details`. Contract: devchars/font_description.cpp.
    virtual long parseFontDescription(void* description, unsigned short length, _FONTDETAILS* details);
    // ---- setup/
    // Empties the tag and returns 0 (-18 for a null record); the tag is not read from the printer.
    virtual long bidiGetPropertyTag(PROPERTYTAG* tag);
    // ---- prtobj/
    virtual long bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                           unsigned long* replyLength, int bAllocate, int bForce);

protected:
    // ---- prtobj/
    virtual void initToZero();
    virtual long bidiQueryAlert(unsigned short alertId, unsigned long alertFamily, void** data, unsigned long* length,
                                int flag);
    virtual void setPrinterType(unsigned long type);
    virtual int isBidiActive();
    // ---- devchars/
    // Summary steps for host code building an INPUTCHARS from INPUTBIN values;
    // no query calls them. They write only the fields of the source they
    // recognise, and nothing for a null `chars`.
    virtual void parseInputCharsByName(int binNumber, int sizeCode, int attr, unsigned long capacity,
                                       const CString& name, INPUTCHARS* chars);
    // By bin number: 1 manual paper, 2 manual envelope, 3 tray 1, 4 tray 2 when
    // binCount >= 5 or capacity is 500 else the feeder, 5 the feeder.
    virtual void parseInputCharsByID(int binNumber, int sizeCode, int attr, unsigned long capacity,
                                     unsigned long binCount, INPUTCHARS* chars);
    // Naming steps of bidiGetInputChars: set *binId for a recognised name or
    // bin number, leave it unchanged otherwise (and for a null binId). Names
    // compare exactly, as texts ending at their first 0 byte.
    virtual void parseInputBinsByName(int sizeCode, const CString& name, unsigned short* binId);
    virtual void parseInputBinsByID(int binNumber, int sizeCode, unsigned long capacity, unsigned long binCount,
                                    unsigned short* binId);

    // ---- alerts/
    // Copies the panel dimensions of this object into `panel` and the first
    // width x height bytes at `text` into its text, translated to ISO 8859-1.
    // The caller vouches for width x height bytes at `text`; the library's
    // queries pad a short text with zero bytes.
    virtual void parseROPData(void* text, OPPANELDATA* panel);
    // Replaces bits 0..10 of `*status` from the three bytes at `bytes`.
    virtual void parseDeviceStatusData(unsigned char* bytes, PRINTERSTATUS* status);
    // ---- setup/
    // Decodes device-management alert data: forwards to parseResMgmtAlertData.
    virtual long parseDeviceAlertData(void* data, long length, DEVICEMGMTALERTDATA* alert);
    // ---- alerts/
    // Appends the entries of `recordCount` alert records of alert kind `kind`
    // (3 paper jams, 4 operator intervention, 5 warnings, 6 service required,
    // 7 configuration change, 8 supplies, 9 supplies status; any other kind
    // gives none) to the list of `*count` entries. Returns 0. The caller
    // vouches that `recordCount` whole records stand at `records`; the
    // library's queries pass only the records that lie wholly within their reply.
    virtual long parseAlertData(unsigned char* records, unsigned int recordCount, unsigned int kind,
                                KVPALERTDATA** list, unsigned int* count);

    // ---- devchars/
    // Naming step of bidiGetOutputChars for named bins: sets *binId for one of
    // the 20 known names, leaves it unchanged otherwise (and for a null binId).
    virtual void parseOutputBinsByName(const CString& name, unsigned short* binId);

    void setBidiRetryCount(int count) { m_nBidiRetryCount = count; }
    // ---- prtobj/
    // The transport's last step for a request's result `rc`: a channel-down
    // result (-2, -10, -11, -16, -17) clears the bidi-active flag through
    // setBidi and is kept for getBidiFailure; any other result of a forced
    // request sets the flag.
    void moveBidiFlag(long rc, int bForce);

    // ---- setup/
    // Decodes the job record of `length` bytes at `record` into `job`: 1 when
    // taken; 0 for job number 0 (then only jobByte0, jobNumber and the two texts,
    // emptied, are written); -1 when the record ends before a field it must hold
    // (job untouched). A short record (bShortRecord non-zero) ends after byte 20;
    // a full one holds bytes 21-40 and the two counted job-information texts.
    int ParseJobData(KVPJOBDATA* job, unsigned char* record, int bShortRecord);
    // The same, reading no more than the `length` bytes at `record`. The form
    // above reads no more than a full record can hold (kMaxJobRecord).
    int ParseJobData(KVPJOBDATA* job, const unsigned char* record, unsigned long length, int bShortRecord);
    // The longest job record: bytes 0-40 and two counted texts.
    static constexpr unsigned long kMaxJobRecord = 41 + 1 + 255 + 1 + 255;

    std::mutex m_csBidi;                 // guards m_caps.bBidiActive, one access at a time
    short m_sBceAppId = 0;
    unsigned short m_usBceHandle = 0;
    int m_nPanelWidth = 0;
    int m_nPanelHeight = 0;
    CString m_strAux1;                   // kept and copied only
    BIDICAPABILITIES m_caps;
    int m_bCapsValid = 0;
    int m_nObjType = 0;
    uint32_t m_dwPrinterType = PRINTER_TYPE_UNKNOWN;
    uint32_t m_dwPrinterSubtype = 0xFFFFFFFF;
    uint32_t m_dwUserData = 0;
    int m_nBidiRetryCount = 0;
    mutable uint32_t m_uBidiQueryNetType = 0;
    int m_nAux3 = 0;                     // kept and copied only
    PSFTYPES m_ePsfType = PSF_NONE;
    int m_nAux4 = 0;                     // kept and copied only
    CString m_strPsfHeader;
    CString m_strCodeLevel;              // code level kept from the last device-characteristics query
    HWND m_hNotifyWnd = nullptr;

private:
    std::atomic<long> m_lBidiFailure{0};   // see getBidiFailure

    // ---- alerts/
    // The list form of the alert families that parseAlertData decodes.
    KVPO_LOCAL long queryAlertList(unsigned short requestCode, unsigned int kind, unsigned int* count,
                                   KVPALERTDATA** list);
    // ---- prtobj/
    // What the two handle constructors do, the printer type set when given.
    KVPO_LOCAL void initHandle(unsigned short handle, int initialize, const unsigned long* printerType);
    // One engine send of bidiQuery, with the reply buffer of the current attempt.
    long sendOnce(unsigned short requestCode, void* requestData, unsigned long requestLength, void* buffer,
                  unsigned long* length);

    // The device-management library (kvprtobj/kvprm.h) decodes its alerts
    // through the virtual decoding step parseDeviceAlertData.
    friend long bidiResMgmtQueryAlert(KVPrtObj& printer, unsigned short alertId, void* alert);
    // Every alert read of the library goes through this one helper.
    friend kvpo::Asked kvpo::readAlert(KVPrtObj& printer, unsigned short alertId, unsigned long family);
};

extern "C" {
// Registers one more framework record of this library in the caller's module list.
KVPO_API void InitKVPrtObjDll();

// Creates a checked printer object (see the discovery sources): null for a
// printer type other than 0, 1 and 0xFFFFFFFF, and, in a partner-only
// installation, for a printer reachable neither through a local port nor over
// network types 0x01, 0x02 or 0x10. The caller deletes the object.
KVPO_API KVPrtObj* CreatePrinterObject(unsigned short handle, short appId, unsigned long printerType);
}

// The first 6 bytes at `address` as 12 upper-case hexadecimal digits.
KVPO_API void parseAdapterAddress(unsigned char* address, CString* text);

// Translates the first `count` characters of `*text` (at most its length) from
// code page 850 to ISO 8859-1 in place; characters ISO 8859-1 lacks become 0x80.
// The text then ends at its first zero byte.
KVPO_API void TranslateOpPanelData(CString* text, int count);
