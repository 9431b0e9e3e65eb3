#include "progress.h"

#include <algorithm>

namespace kvprt {

namespace {
constexpr unsigned long kBarWidth = 30;
}

Progress::Progress(std::ostream& out, bool terminal, std::string label, unsigned long total)
    : m_out(out), m_terminal(terminal), m_label(std::move(label)), m_total(total) {}

void Progress::update(unsigned long step) {
    std::string count = std::to_string(step);
    if (m_total) count.append("/").append(std::to_string(m_total));
    if (!m_terminal || !m_total) {   // a bar needs its total
        m_out << (m_terminal ? "\r" : "") << m_label << ": " << count << (m_terminal ? "" : "\n") << std::flush;
        m_drawn = m_terminal;
        return;
    }
    unsigned long done = m_total ? std::min(step, m_total) * kBarWidth / m_total : 0;
    m_out << '\r' << m_label << " [" << std::string(done, '#') << std::string(kBarWidth - done, '.') << "] " << count
          << std::flush;
    m_drawn = true;
}

void Progress::finish() {
    if (m_drawn) m_out << '\n' << std::flush;
    m_drawn = false;
}

}  // namespace kvprt
