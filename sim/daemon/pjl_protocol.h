// kvprtsimd's PJL port, bytes in and bytes out, with no socket: what a print
// port makes of a host's bytes. A UEL starts a PJL job (and ends the one
// before, with its SET values); its "@PJL" lines are commands, answered by
// the printer (SimPrinter::answerPjl); the data of an FSDOWNLOAD follow its
// line. Bytes outside a job, and a job's first line that is not "@PJL",
// would be printed by a printer: they are counted and dropped.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "kvprtobj/kvprtsim.h"

namespace kvsimd {

// Faults of the PJL port, for tests of the hosts (kvprtsimd --pjl-fault).
struct PjlFaults {
    bool silent = false;          // takes every byte, answers none
    bool endless = false;         // the first reply never ends: text without a form feed, forever
    bool notPjl = false;          // every reply is text that is not PJL
    bool oneConnection = false;   // a second connection is closed while one is open (the server's)
};

class PjlSession {
public:
    // The longest command line, and the most bytes held for one (an
    // FSDOWNLOAD's data included); beyond, the connection is closed.
    static constexpr size_t kMaxLine = 1024;

    using Log = std::function<void(const std::string&)>;
    PjlSession(kvsim::SimPrinter& printer, PjlFaults faults, Log log)
        : m_printer(printer), m_faults(faults), m_log(std::move(log)) {}

    // Takes bytes from the host; the bytes to answer with (maybe none).
    std::string take(std::string_view bytes);
    // True once the connection is to be closed (a line or a download beyond the bounds).
    bool closing() const { return m_closing; }
    // With the endless fault once a reply was due: more of a reply that never ends.
    bool endless() const { return m_endless; }
    static std::string_view endlessChunk();
    // Bytes taken that a printer would have printed.
    size_t printedBytes() const { return m_printed; }
    // True while the host asked for the device status unasked (USTATUS
    // DEVICE=ON or VERBOSE, until DEVICE=OFF or USTATUSOFF): the server then
    // sends it on this connection whenever it changes.
    bool deviceStatus() const { return m_deviceStatus; }

private:
    bool step(std::string* out);   // false when more bytes are needed
    void command(std::string_view line, std::string* out);
    void answer(std::string reply, std::string* out);
    void print(size_t length);

    kvsim::SimPrinter& m_printer;
    const PjlFaults m_faults;
    Log m_log;
    std::string m_in;
    kvsim::PjlJob m_job;
    bool m_inJob = false;
    std::string m_download;       // the line of an FSDOWNLOAD whose data are awaited
    size_t m_downloadSize = 0;
    size_t m_printed = 0;
    bool m_closing = false;
    bool m_endless = false;
    bool m_deviceStatus = false;
};

}  // namespace kvsimd
