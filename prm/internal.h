// What the device-management requests share: their request codes, the
// device byte, the file-name rule and the printer's answer.
#pragma once

#include <cstdint>

#include "kvprtobj/kvprm.h"
#include "prtobj/internal/ask.h"

namespace kvprm {

// True for the devices a request may name.
bool knownDevice(KVPrtObj::DEVICEID device);
// True for a name the requests and the directory text can carry: 1 to 255
// characters of at least 0x20, without ";".
bool validFileName(const CString& name);

// The request bytes: the device bytes and flags, then a counted file name.
class Request {
public:
    Request& u8(unsigned v) {
        m_bytes[m_length++] = static_cast<unsigned char>(v);
        return *this;
    }
    Request& device(KVPrtObj::DEVICEID d) { return u8(static_cast<unsigned>(d)); }
    // The caller has checked the name with validFileName.
    Request& name(const CString& name);
    unsigned char* data() { return m_bytes; }
    unsigned long length() const { return m_length; }

private:
    // The longest request: a copy's three bytes, the name's length byte and 255 characters.
    unsigned char m_bytes[3 + 1 + 255] = {};
    unsigned long m_length = 0;
};

// The result code of the printer's status byte; -2 for a status it does not define.
long statusResult(uint8_t status);

// Sends one request whose reply begins with the printer's status byte: the
// result is that status's result (or the transport's), with the reply.
kvpo::Asked sendRequest(KVPrtObj& printer, unsigned short code, Request& request);

}  // namespace kvprm
