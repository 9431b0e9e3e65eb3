// ippeveprinter (Debian's cups-ipp-utils) as a child process: an IPP
// Everywhere printer on a free port of localhost, with a private D-Bus for
// its service announcements (it will not start without one) and the
// project's own attributes file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "temp_dir.h"

namespace kvtest {

class IppEvePeer {
public:
    // Whether ippeveprinter, ipptool and dbus-daemon are installed.
    static bool available();

    // Starts a printer with the attributes of `attributesFile` (-a);
    // throws std::runtime_error when it does not listen within 10 s.
    explicit IppEvePeer(const std::string& attributesFile);
    ~IppEvePeer();
    IppEvePeer(const IppEvePeer&) = delete;
    IppEvePeer& operator=(const IppEvePeer&) = delete;

    uint16_t port() const { return m_port; }
    std::string uri() const;   // ipp://localhost:PORT/ipp/print
    // ipptool -q -f `document` on the printer with `testFile`; its exit status (0: passed).
    int ipptool(const std::string& testFile, const std::string& document) const;
    // What the printer wrote to its standard output and error.
    std::string log() const;

private:
    TempDir m_dir;
    uint16_t m_port = 0;
    pid_t m_bus = -1, m_printer = -1;
};

}  // namespace kvtest
