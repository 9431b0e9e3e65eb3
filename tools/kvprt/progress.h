// Progress of a Quick Setup transfer, driven by the worker's progress
// messages: a bar redrawn in place on a terminal (the count alone when the
// total is unknown), plain lines otherwise.
#pragma once

#include <ostream>
#include <string>

namespace kvprt {

class Progress {
public:
    // `total` is the number of steps to expect (0 when unknown).
    Progress(std::ostream& out, bool terminal, std::string label, unsigned long total);
    void setTotal(unsigned long total) { m_total = total; }
    // Step `step` of the total has been reached.
    void update(unsigned long step);
    // Ends the bar's line (nothing for plain lines).
    void finish();

private:
    std::ostream& m_out;
    bool m_terminal;
    std::string m_label;
    unsigned long m_total;
    bool m_drawn = false;
};

}  // namespace kvprt
