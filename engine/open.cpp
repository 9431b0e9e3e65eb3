// BceOpenPrinter: URI schemes.
#include <cstring>

#include "handles.h"

long BceOpenPrinter(const char* uri, unsigned short* handle) {
    if (uri == nullptr || handle == nullptr) return BCE_E_BAD_URI;
    if (std::strncmp(uri, "sim:", 4) == 0 || std::strncmp(uri, "tcp://", 6) == 0) return BCE_E_NOT_SUPPORTED;
    return BCE_E_BAD_URI;
}
