// KVPrtObj: one object stands for one printer known to the communication
// engine by a 16-bit handle. Every request goes through the virtual bidiQuery,
// every alert read through the virtual bidiQueryAlert, so a host class derived
// from KVPrtObj that overrides them changes every operation that uses them.
//
// Result codes of the bidi* operations: 0 success; -2 bad reply; -3 invalid
// request or data; -10, -16, -17 channel down; -11 bidi not active; -18 no
// memory, buffer too small or a missing record argument; other negative engine
// codes pass through unchanged (BceResultText gives words for every code).
//
// Ownership: byte buffers the operations return (replies, variable values,
// alert data) are made with ::operator new and released by the caller with
// ::operator delete; arrays of records with text members with new[] / delete[];
// single objects with new / delete.
//
// The order of the virtual functions below is part of the interface.
#pragma once

#include <cstdint>
#include <mutex>

#include "kvprtobj/fw_base.h"
#include "kvprtobj/zorbce.h"

class JOBINFOSTRINGS;   // kvprtobj/jobs.h
class JSALERTDATA;      // kvprtobj/jsalert.h

// One variable of a multiple read of object-model variables.
struct KVPO_API _MULTIOMVAR {
    uint16_t id;          // the two id bytes as they stand in the reply (most significant first in memory)
    uint8_t length;       // number of meaningful value bytes, at most 33
    uint8_t value[33];
};

// A custom name of a form or an output bin (bidiGetFormNames, bidiGetOutputBinNicknames).
struct KVPO_API _CUSTOMNAME {
    uint16_t usNumber = 0;   // number of the form or output bin
    CString strName;
};

class KVPO_API KVPrtObj : public CObject {
public:
    // Capabilities as found by discovery (bidiQueryCaps).
    struct BIDICAPABILITIES {
        int bBidiActive = 0;         // the bidi-active flag; moved by the transport afterwards
        int bInfoFlag15 = 0;         // bit 15 of the printer information's flags
        int bHasCapturedPorts = 0;   // some LPT port of this computer is captured to the printer
        int nConnectionKind = 0;     // how the printer is attached, 0..13
        uint32_t dwStatusFlags = 0;  // bit 0: bidi-capable per discovery
        uint32_t dwProtocols = 0;    // bits 0..7: network types 0x01 0x02 0x80 0x04 0x40 0x20 0x08 0x10
        int nCapturedPorts = 0;      // captured LPT ports with a live connection
        int nAddressCount = 0;       // entries in strAddresses, 0..3
        CString strPortName;
        CString strAdapterAddress;   // 12 upper-case hexadecimal digits, or empty
        CString strNetName1;         // name for network type 0x01
        CString strNetName2;         // name for network type 0x02 (or 0x80)
        CString strNetName3;         // name for network type 0x04, 0x40, 0x08 or 0x20
        CString strCapturedPorts;    // "LPT1:  (remote), ..."
        CString strAddresses;        // "[IP]  a.b.c.d, [IPX]  ..., [DLC]  ..."
    };

    // Type of printer settings file that suits this printer (setPrinterType).
    enum PSFTYPES { PSF_NONE = 0, PSF_TYPE0_FILE = 1, PSF_TYPE1_FILE = 2 };

    // Printer types as the three-argument constructor and bidiGetPrinterType know them.
    static constexpr unsigned long PRINTER_TYPE_0 = 0;
    static constexpr unsigned long PRINTER_TYPE_1 = 1;
    static constexpr unsigned long PRINTER_TYPE_UNKNOWN = 0xFFFFFFFF;

    enum KVNETACCESSLEVEL { KVNET_USER = 1, KVNET_ADMINISTRATOR = 2 };

    // Page counters of bidiGetPageCounts; type 3 is never filled.
    struct PAGECOUNTDATA {
        uint32_t dwPageCountType1 = 0;
        uint32_t dwPageCountType2 = 0;
        uint32_t dwPageCountType3 = 0;
        uint32_t dwPageCountType4 = 0;
    };

    // ---- records of alerts and status ----

    // ---- records of device characteristics ----

    // The device characteristics of bidiGetDeviceChars. The printer gives the
    // meaning of the three bytes and of texts 1 and 3; the library carries them.
    struct DEVICECHARS {
        uint8_t byReply7 = 0;    // reply byte 7
        CString strText1;        // first counted text
        CString strCodeLevel;    // second counted text: the printer's base code level
        CString strText3;        // third counted text
        uint32_t ulReply2 = 0;   // reply byte 2
        uint32_t ulReply11 = 0;  // reply byte 11
        uint32_t ulSizeKB = 0;   // reply bytes 19-22 (a byte count) in kilobytes, rounded down
    };

    // ---- records of configuration, jobs and setup ----

    // The keyed items of a job-information text (kvprtobj/jobs.h).
    using JOBINFOSTRINGS = ::JOBINFOSTRINGS;

    // One component's code level (bidiGetCodeLevels). Component codes: 7701 the
    // printer's base level, 7702 ENG, 7703 ENGB, 7704 ENGF, 7705 PNL, 7706 DPX,
    // 7707 network adapter (INA, INA1, INA2 or a slot), 7708 CONT, 7709 FLKER,
    // 7710 a slot holding an ISL.
    struct CODELEVELS {
        int32_t lComponentId = 0;
        int32_t iInstance = 0;   // 0 for a single component; 1 or 2 for INA1/INA2; the slot number
        CString strCodeLevel;    // the level as the printer gave it
    };

    // The printer's property tag (bidiGetPropertyTag, bidiSetPropertyTag).
    struct PROPERTYTAG {
        CString strTag;
    };

    // One print job (bidiQueryJobs, bidiQueryJobTranAlert); the fields are named
    // by their place in the printer's job record.
    struct KVPJOBDATA {
        uint8_t jobByte0 = 0;
        uint16_t jobNumber = 0;   // never 0 in a decoded job
        uint32_t jobByte3 = 0;
        uint8_t jobByte4 = 0;
        uint16_t jobWord5 = 0;
        uint16_t jobWord7 = 0;
        uint8_t jobBytes9[4] = {};
        uint8_t jobByte13 = 0;
        uint32_t jobLong17 = 0;
        uint32_t jobLong21 = 0;   // this and the following: full records only
        uint32_t jobLong25 = 0;
        uint32_t jobLong29 = 0;
        uint32_t jobLong33 = 0;
        uint32_t jobLong37 = 0;
        CString strJobJN;         // the JN item of the job-information texts
        CString strJobUR;         // the UR item
    };

    // Reply buffer sizes of the transport.
    static constexpr unsigned long kDefaultReplySize = 2048;
    static constexpr unsigned long kMaxReplySize = 64000;
    static constexpr unsigned long kAlertBufferSize = 2048;

    KVPrtObj();
    KVPrtObj(unsigned short handle, int initialize);
    KVPrtObj(unsigned short handle, unsigned long printerType, int initialize);
    KVPrtObj(const KVPrtObj&) = delete;
    ~KVPrtObj() override;

    // Copies everything but the lock, the object type and the network type;
    // the retry count last, the notification window through setNotificationWindow.
    KVPrtObj& operator=(const KVPrtObj& other);

    PSFTYPES getPsfType() const { return m_ePsfType; }
    const CString& getPsfHeader() const { return m_strPsfHeader; }
    int getKVPrtObjType() const { return m_nObjType; }
    unsigned int getBidiQueryNetType() const { return m_uBidiQueryNetType; }
    unsigned short getBCEHandle() const { return m_usBceHandle; }
    void setBceAppId(short appId) { m_sBceAppId = appId; }

    // 1 when `netType` is valid for this printer (see isValidNetType in the transport).
    int isValidNetType(unsigned int netType) const;
    // Stores `netType`, or 0 when it is not valid for this printer; returns what was stored.
    unsigned int setBidiQueryNetType(unsigned int netType) const;

    // Printer identity (engine calls, no bidi request).
    long getPrinterInfo(PRTINFO* info) const;
    long getBCENetAddress(NETADDRESS_LEVEL2* address, unsigned int netType) const;
    KVNETACCESSLEVEL getNetAccessLevel(unsigned int value) const;

    // Remote offline/online (request 0x8D).
    long SendRemoteOffline();
    long SendRemoteOnline();

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

    // ---- virtual functions, in table order ----
    virtual int validVelkorProtocols();
    virtual void getPrinterType(unsigned long* type, unsigned long* subtype) const;
    virtual int getBidiCaps(BIDICAPABILITIES* caps) const;
    virtual long bidiInitialize(int bRefresh);
    virtual long bidiQueryCaps(BIDICAPABILITIES* caps, int bRefresh);
    virtual long bidiGetPrinterFamily(unsigned long* family);
    virtual long bidiGetPrinterInfo(PRTINFO* info);
    virtual long bidiGetPrinterType(unsigned long* type, unsigned long* rawType);
    // Request 0x10. The three texts are emptied first; a non-empty second text
    // is also kept in the object for bidiGetCodeLevels. A null record gives -18
    // (nothing sent). A reply that does not hold every fixed field and all three
    // counted texts gives -2: the texts stay empty, the numeric fields and the
    // kept code level as they were.
    virtual long bidiGetDeviceChars(DEVICECHARS* chars);
    virtual long bidiGetPageCounts(PAGECOUNTDATA* counts);
    // One record per component named in the printer's code-level text
    // (miscellaneous variable 00 A6), headed by the base level (7701) kept from
    // bidiGetDeviceChars or asked for with it. *levels receives a new array
    // (delete[]) of 1 + (colons in the text) slots whose first `count` are
    // filled. When the base level cannot be had, its failure code is returned
    // but the parsed records are still handed over. A SLOT line whose value is
    // the single word INA or ISL gives a record with an empty level text.
    // -2 when the working copy of the text cannot be made; a null `levels`
    // gives -18 and nothing is sent.
    virtual long bidiGetCodeLevels(int& count, CODELEVELS** levels);
    // Request 0x9B, sent even while bidi is marked inactive: flags[p] = 1 for
    // every port p < n that the printer lists, all other flags 0. A negative n
    // is taken as 0 (no flags). A null `flags` gives -18 and nothing is sent.
    virtual long bidiGetAvailablePorts(int n, int* flags);
    // Request 0x34, sent even while bidi is marked inactive; the reply is not examined.
    virtual long bidiLoopBack();
    virtual long bidiResetHostPageCount();
    virtual long bidiPORPrinter();
    virtual long bidiResetNVRAM();
    virtual long bidiSetOMVar(unsigned char* id, void* value, unsigned long length);
    virtual long bidiReadOMVar(unsigned char* id, void** value, unsigned long* length);
    virtual unsigned long bidiReadMultiOMVars(unsigned char* ids, unsigned short count, _MULTIOMVAR** vars,
                                              unsigned short* varCount);
    virtual long bidiReadMiscVar(unsigned char* id, void** value, unsigned long* length, int bForce);
    // Reads a job-transition alert (family 0x5FD) into the KVPJOBDATA at `job`.
    // Data that do not begin 03 20, or whose job record is cut short or has job
    // number 0, give -2 (a cut record leaves the job untouched). A null `job`
    // gives -18 and nothing is read.
    virtual long bidiQueryJobTranAlert(unsigned short alertId, void* job);
    // The raw data of a toner alert (family 0x600): on success `data` is a new
    // buffer of `length` bytes that the caller releases with ::operator delete.
    virtual long bidiQueryTonerAlert(unsigned short alertId, unsigned char*& data, unsigned long& length);
    // Reads a job-status alert (family 0x5F6) into `data` (see kvprtobj/jsalert.h).
    virtual long bidiJSQueryAlert(unsigned short alertId, JSALERTDATA& data);
    virtual void setUserData(unsigned long data);   // kept as 32 bits
    virtual unsigned long getUserData();
    virtual void getVersionNumber(CString directory, CString* version);
    virtual void setNotificationWindow(HWND window);
    virtual void setBidi(int bActive);
    // Request 0x75 for one job or, with job number 0, for all. *jobs receives a
    // new array (delete[]) of as many slots as the reply announces, *count the
    // jobs decoded; a job number 0 ends the list. A reply that ends before the
    // jobs it announces, or holds a job record too short for its fields, gives
    // -2 with count 0 and no array. Null output pointers give -18 and nothing
    // is sent.
    virtual long bidiQueryJobs(unsigned short jobNumber, unsigned int* count, KVPJOBDATA** jobs);
    // Request 0x76 (flag 0) or 0x77 (any other flag) without reply.
    virtual long bidiDeleteJob(unsigned short jobNumber, int flag);
    // Request 0x98; *answer receives the reply's first byte (0 without one).
    // A null `answer` gives -18 and nothing is sent.
    virtual long bidiChangeJobPriority(unsigned char priority, unsigned short jobNumber, unsigned char* answer);
    // Empties the tag and returns 0 (-18 for a null record); the tag is not read from the printer.
    virtual long bidiGetPropertyTag(PROPERTYTAG* tag);
    virtual long bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                           unsigned long* replyLength, int bAllocate, int bForce);

protected:
    virtual void initToZero();
    virtual long bidiQueryAlert(unsigned short alertId, unsigned long alertFamily, void** data, unsigned long* length,
                                int flag);
    virtual void setPrinterType(unsigned long type);
    virtual int isBidiActive();

    void setBidiRetryCount(int count) { m_nBidiRetryCount = count; }

    // Decodes the job record of `length` bytes at `record` into `job`: 1 when
    // taken; 0 for job number 0 (then only jobByte0, jobNumber and the two texts,
    // emptied, are written); -1 when the record ends before a field it must hold
    // (job untouched). A short record (bShortRecord non-zero) ends after byte 20;
    // a full one holds bytes 21-40 and the two counted job-information texts.
    int ParseJobData(KVPJOBDATA* job, const unsigned char* record, unsigned long length, int bShortRecord);

    std::mutex m_csBidi;                 // guards m_caps.bBidiActive, one access at a time
    short m_sBceAppId = 0;
    unsigned short m_usBceHandle = 0;
    int m_nPanelWidth = 0;
    int m_nPanelHeight = 0;
    CString m_strAux1;                   // kept and copied only
    BIDICAPABILITIES m_caps;
    int m_bCapsValid = 0;
    int m_nObjType = 0;
    uint32_t m_dwPrinterType = 0xFFFFFFFF;
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
    // One engine send of bidiQuery, with the reply buffer of the current attempt.
    long sendOnce(unsigned short requestCode, void* requestData, unsigned long requestLength, void* buffer,
                  unsigned long* length);
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
