// The request transport: every request of the library goes through bidiQuery,
// every alert read through bidiQueryAlert.
#include <cstring>
#include <new>

#include "kvprtobj/helpers.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/net_types.h"
#include "prtobj/internal/results.h"
#include "prtobj/internal/transport_rules.h"

namespace {

bool isChannelDown(long rc) {
    return rc == BCE_E_BAD_REPLY || rc == BCE_E_CHANNEL_DOWN || rc == BCE_E_NOT_ACTIVE ||
           rc == BCE_E_CONNECTION_RESET || rc == BCE_E_TIMEOUT;
}

}  // namespace

int KVPrtObj::isBidiActive() {
    std::lock_guard guard(m_csBidi);
    return m_caps.bBidiActive;
}

void KVPrtObj::setBidi(int bActive) {
    std::lock_guard guard(m_csBidi);
    m_caps.bBidiActive = bActive;
    if (bActive) m_lBidiFailure = 0;
}

// getBidiFailure: why requests are refused with -11, so that a host can name
// the real failure rather than the refusals that follow it: the result of the
// request that last cleared the bidi-active flag (-2, -10, -11, -16 or -17, as
// the transport or a batch got it from the engine), or the engine's result
// when discovery (bidiInitialize) could not read the printer information. 0
// while the flag is set, and when it was cleared otherwise (setBidi(0),
// discovery of a printer that is not bidi-capable); setting the flag (setBidi
// with a non-zero value, or discovery) resets it. Copied by operator=.
void KVPrtObj::moveBidiFlag(long rc, int bForce) {
    if (isChannelDown(rc)) {
        m_lBidiFailure = rc;
        setBidi(0);
    } else if (bForce) {
        setBidi(1);
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
const int KVPrtObj::isValidNetType(unsigned int netType) const {
    if (netType == 0) return 1;
    for (size_t bit = 0; bit < kvpo::kValidatedProtocols; ++bit)
        if (netType == kvpo::kProtocolNetTypes[bit]) return (m_caps.dwProtocols >> bit) & 1 ? 1 : 0;
    for (unsigned n = 0; n < 9; ++n) {
        if (netType != (PRTINFO_CAPTURED_LPT1 << n)) continue;
        if (!m_caps.bHasCapturedPorts) return 0;
        PRTINFO info;
        if (getPrinterInfo(&info) != BCE_OK) return 0;
        return (info.ulAttachment & netType) ? 1 : 0;
    }
    return 1;   // any other value is passed to the engine as it is
}

const unsigned int KVPrtObj::setBidiQueryNetType(unsigned int netType) const {
    if (!isValidNetType(netType)) netType = 0;
    m_uBidiQueryNetType = netType;
    return netType;
}
#pragma GCC diagnostic pop

long KVPrtObj::sendOnce(unsigned short requestCode, void* requestData, unsigned long requestLength, void* buffer,
                        unsigned long* length) {
    return BceSendBidi(m_sBceAppId, m_usBceHandle, m_uBidiQueryNetType, requestCode, buffer, length, requestData,
                       requestLength);
}

long KVPrtObj::bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                         unsigned long* replyLength, int bAllocate, int bForce) {
    using Rules = kvpo::TransportRules;
    if (long refused = Rules::admit(isBidiActive(), bForce)) return refused;

    unsigned long size = 0;
    if (bAllocate) {
        size = Rules::firstCapacity(*replyLength);
        *reply = kvPrtObjNew(size);
        if (*reply == nullptr) return BCE_E_NO_MEMORY;
    }

    const int lastAttempt = Rules::retries(m_nBidiRetryCount);
    long rc = 0;
    for (int attempt = 0; attempt <= lastAttempt; ++attempt) {
        if (bAllocate) *replyLength = size;
        Rules::netType(*this);
        if (bAllocate) {
            // A later attempt starts from the buffer this one grew to.
            rc = sendOnce(requestCode, requestData, requestLength, *reply, replyLength);
            for (bool grown = false; Rules::grows(rc, size, grown); grown = true) {
                size = Rules::nextCapacity(size);
                *replyLength = size;
                ::operator delete(*reply);
                *reply = kvPrtObjNew(size);
                if (*reply == nullptr) return BCE_E_NO_MEMORY;
                rc = sendOnce(requestCode, requestData, requestLength, *reply, replyLength);
            }
        } else {
            unsigned char dummy[4];
            unsigned long dummyLength = 0;
            rc = sendOnce(requestCode, requestData, requestLength, dummy, &dummyLength);
        }
        if (rc == BCE_OK) break;
    }

    if (bAllocate) rc = Rules::finishReply(rc, *reply, replyLength, size);
    moveBidiFlag(rc, bForce);
    return rc;
}

long KVPrtObj::bidiQueryAlert(unsigned short alertId, unsigned long, void** data, unsigned long* length, int flag) {
    unsigned char* buffer = kvPrtObjNew(kAlertBufferSize);
    if (buffer == nullptr) return BCE_E_NO_MEMORY;
    *data = nullptr;
    *length = kAlertBufferSize;
    long rc = BceQueryAlerts(m_sBceAppId, alertId, m_usBceHandle, flag, buffer, length);
    if (kvpo::TransportRules::alertFits(rc, *length)) {
        *data = kvPrtObjNew(*length);
        if (*data == nullptr)
            rc = BCE_E_NO_MEMORY;
        else
            std::memcpy(*data, buffer, *length);
    }
    ::operator delete(buffer);
    return rc;
}

long KVPrtObj::bidiInitialize(int bRefresh) {
    bidiQueryCaps(&m_caps, bRefresh);
    m_bCapsValid = 1;
    return BCE_OK;
}
