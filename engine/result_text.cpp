#include "kvprtobj/bidicodes.h"
#include "kvprtobj/zorbce.h"

const char* BceResultText(long code) {
    switch (code) {
    case BCE_OK: return "success";
    case -1: return "failed";
    case BCE_E_BAD_REPLY: return "bad reply from the printer";
    case BCE_E_INVALID: return "invalid request or data";
    case BCE_E_CHANNEL_DOWN: return "bidi channel down: the printer cannot be reached";
    case BCE_E_NOT_ACTIVE: return "bidi is not active for this printer";
    case BCE_E_CONNECTION_RESET: return "bidi channel down: the connection was reset";
    case BCE_E_TIMEOUT: return "bidi channel down: the printer did not answer in time";
    case BCE_E_NO_MEMORY: return "no memory, buffer too small, or a required record is missing";
    case BCE_E_NO_RESOURCES: return "too many open files: no descriptor or socket buffer is left to connect to the printer";
    case BCE_E_BAD_HANDLE: return "unknown printer handle";
    case BCE_E_NOT_SUPPORTED: return "not supported";
    case BCE_E_BAD_URI: return "malformed printer address or profile";
    case BCE_E_NO_HANDLE: return "no free printer handle";
    case BCE_E_NO_ALERT: return "no alert arrived in time";
    // Device storage management (libkvprm, kvprtobj/kvprm.h).
    case KVPRM_E_NO_DEVICE: return "no such storage device";
    case KVPRM_E_NO_FILE: return "no such file on the storage device";
    case KVPRM_E_NO_SPACE: return "not enough free space on the storage device";
    case KVPRM_E_FILE_EXISTS: return "a file of that name exists on the target device";
    default: return code < 0 ? "unknown error" : "unknown result";
    }
}
