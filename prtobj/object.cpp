// Construction, copying and the small accessors of KVPrtObj.
#include "kvprtobj/prtobj.h"

KVPrtObj::KVPrtObj() {
    initToZero();
    setBidiRetryCount(1);
    setBidiQueryNetType(0);
    m_nObjType = 0;
}

KVPrtObj::KVPrtObj(unsigned short handle, int initialize) { initHandle(handle, initialize, nullptr); }

KVPrtObj::KVPrtObj(unsigned short handle, unsigned long printerType, int initialize) {
    initHandle(handle, initialize, &printerType);
}

void KVPrtObj::initHandle(unsigned short handle, int initialize, const unsigned long* printerType) {
    initToZero();
    m_usBceHandle = handle;
    m_nAux4 = 2;
    if (initialize) bidiInitialize(0);
    if (printerType != nullptr) setPrinterType(*printerType);
    m_nPanelHeight = 4;
    m_nPanelWidth = 20;
    if (m_dwPrinterType == 0) setBidiRetryCount(1);   // without a printer type never true: it is still unset
    setBidiQueryNetType(0);
    m_nObjType = 0;
}

KVPrtObj::~KVPrtObj() = default;

KVPrtObj& KVPrtObj::operator=(const KVPrtObj& other) {
    if (this == &other) return *this;
    m_sBceAppId = other.m_sBceAppId;
    m_usBceHandle = other.m_usBceHandle;
    m_nPanelWidth = other.m_nPanelWidth;
    m_nPanelHeight = other.m_nPanelHeight;
    m_strAux1 = other.m_strAux1;
    m_caps = other.m_caps;   // flag included, without either lock
    m_lBidiFailure = other.m_lBidiFailure.load();
    m_bCapsValid = other.m_bCapsValid;
    m_dwPrinterType = other.m_dwPrinterType;
    m_dwPrinterSubtype = other.m_dwPrinterSubtype;
    m_dwUserData = other.m_dwUserData;
    m_nAux3 = other.m_nAux3;
    m_ePsfType = other.m_ePsfType;
    m_nAux4 = other.m_nAux4;
    m_strPsfHeader = other.m_strPsfHeader;
    m_strCodeLevel = other.m_strCodeLevel;
    setNotificationWindow(other.m_hNotifyWnd);
    m_nBidiRetryCount = other.m_nBidiRetryCount;
    return *this;
}

void KVPrtObj::initToZero() {
    m_caps = BIDICAPABILITIES{};
    m_nPanelWidth = 0;
    m_nPanelHeight = 0;
    m_strAux1.clear();
    m_dwPrinterType = PRINTER_TYPE_UNKNOWN;
    m_dwPrinterSubtype = 0xFFFFFFFF;
    m_bCapsValid = 0;
    m_nBidiRetryCount = 0;
    m_nAux3 = 0;
    m_nAux4 = 0;
    m_ePsfType = PSF_NONE;
    m_strPsfHeader.clear();
    m_strCodeLevel.clear();
}

void KVPrtObj::setPrinterType(unsigned long type) {
    m_dwPrinterType = static_cast<uint32_t>(type);
    m_strPsfHeader.clear();
    switch (type) {
    case 0: m_ePsfType = PSF_TYPE0_FILE; break;
    case 1: m_ePsfType = PSF_TYPE1_FILE; break;
    default: m_ePsfType = PSF_NONE; break;
    }
}

void KVPrtObj::getPrinterType(unsigned long* type, unsigned long* subtype) const {
    *type = m_dwPrinterType;
    if (subtype != nullptr) *subtype = m_dwPrinterSubtype;
}

void KVPrtObj::setUserData(unsigned long data) { m_dwUserData = static_cast<uint32_t>(data); }
unsigned long KVPrtObj::getUserData() { return m_dwUserData; }
void KVPrtObj::setNotificationWindow(HWND window) { m_hNotifyWnd = window; }
