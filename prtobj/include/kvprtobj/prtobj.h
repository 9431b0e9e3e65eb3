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

// One variable of a multiple read of object-model variables.
struct KVPO_API _MULTIOMVAR {
    uint16_t id;          // the two id bytes as they stand in the reply (most significant first in memory)
    uint8_t length;       // number of meaningful value bytes, at most 33
    uint8_t value[33];
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

    // ---- records of configuration, jobs and setup ----

    // One object-model variable as a host keeps it for a Quick Setup control
    // object (KVQSThreadControl); the library never reads it.
    struct OMVARIABLE {
        uint16_t usId = 0;        // the variable id
        uint8_t ucLength = 0;     // number of meaningful value bytes
        uint8_t ucValue[255] = {};
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

    // ---- virtual functions, in table order ----
    virtual int validVelkorProtocols();
    virtual void getPrinterType(unsigned long* type, unsigned long* subtype) const;
    virtual int getBidiCaps(BIDICAPABILITIES* caps) const;
    virtual long bidiInitialize(int bRefresh);
    virtual long bidiQueryCaps(BIDICAPABILITIES* caps, int bRefresh);
    virtual long bidiGetPrinterFamily(unsigned long* family);
    virtual long bidiGetPrinterInfo(PRTINFO* info);
    virtual long bidiGetPrinterType(unsigned long* type, unsigned long* rawType);
    virtual long bidiGetPageCounts(PAGECOUNTDATA* counts);
    virtual long bidiResetHostPageCount();
    virtual long bidiPORPrinter();
    virtual long bidiResetNVRAM();
    virtual long bidiSetOMVar(unsigned char* id, void* value, unsigned long length);
    virtual long bidiReadOMVar(unsigned char* id, void** value, unsigned long* length);
    virtual unsigned long bidiReadMultiOMVars(unsigned char* ids, unsigned short count, _MULTIOMVAR** vars,
                                              unsigned short* varCount);
    virtual long bidiReadMiscVar(unsigned char* id, void** value, unsigned long* length, int bForce);
    virtual void setUserData(unsigned long data);   // kept as 32 bits
    virtual unsigned long getUserData();
    virtual void getVersionNumber(CString directory, CString* version);
    virtual void setNotificationWindow(HWND window);
    virtual void setBidi(int bActive);
    virtual long bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                           unsigned long* replyLength, int bAllocate, int bForce);

protected:
    virtual void initToZero();
    virtual long bidiQueryAlert(unsigned short alertId, unsigned long alertFamily, void** data, unsigned long* length,
                                int flag);
    virtual void setPrinterType(unsigned long type);
    virtual int isBidiActive();

    void setBidiRetryCount(int count) { m_nBidiRetryCount = count; }

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
