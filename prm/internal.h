// What the device-management requests share: the request bytes with their
// device and file-name rules, and the printer's answer.
#pragma once

#include <cstdint>

#include "kvprtobj/kvprm.h"
#include "prtobj/internal/ask.h"

namespace kvprm {

// The request bytes: the device bytes and flags, then a counted file name. A
// device or name the requests cannot carry refuses the request: sendRequest
// then returns that refusal and sends nothing.
class Request {
public:
    Request& u8(unsigned v) {
        m_bytes[m_length++] = static_cast<unsigned char>(v);
        return *this;
    }
    // Flash or disk; any other device refuses the request with KVPRM_E_NO_DEVICE.
    Request& device(KVPrtObj::DEVICEID d);
    // 1 to 255 characters of at least 0x20, without ";" (as the directory text
    // carries names); any other name refuses the request with BCE_E_INVALID.
    Request& name(const CString& name);
    unsigned char* data() { return m_bytes; }
    unsigned long length() const { return m_length; }
    long refusal() const { return m_refusal; }

private:
    Request& refuse(long rc);

    // The longest request: a copy's three bytes, the name's length byte and 255 characters.
    unsigned char m_bytes[3 + 1 + 255] = {};
    unsigned long m_length = 0;
    long m_refusal = BCE_OK;   // the first refusal
};

// Sends one request whose reply begins with the printer's status byte: the
// result is that status's result (or the transport's, or the request's
// refusal), with the reply.
kvpo::Asked sendRequest(KVPrtObj& printer, unsigned short code, Request& request);

}  // namespace kvprm
