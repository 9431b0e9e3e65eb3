#include "pjl_protocol.h"

#include <algorithm>

#include "pjl.h"

namespace kvsimd {
namespace {

namespace pjl = kvnet::pjl;

constexpr size_t kPiece = 4096;   // bytes taken at a time, so that what is held stays bounded
constexpr std::string_view kNotPjl = "%!PS-Adobe-3.0\r\n%%Title: not PJL\r\n\f";

bool blankLine(std::string_view line) { return line.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

std::string_view PjlSession::endlessChunk() {
    static const std::string chunk = [] {
        std::string line = "\tKVPRTSIMD ENDLESS REPLY WITHOUT A FORM FEED\r\n", s;
        while (s.size() < 8192) s += line;
        return s;
    }();
    return chunk;
}

std::string PjlSession::take(std::string_view bytes) {
    std::string out;
    if (m_faults.silent) return out;
    for (size_t at = 0; at < bytes.size() && !m_closing && !m_endless; at += kPiece) {
        m_in.append(bytes.substr(at, kPiece));
        while (!m_closing && !m_endless && step(&out)) {
        }
    }
    return out;
}

void PjlSession::print(size_t length) {
    if (length == 0) return;
    m_printed += length;
    m_log(std::to_string(length) + " bytes outside a PJL job would have been printed");
    m_in.erase(0, length);
}

// One step over the bytes held: a download's data, a UEL, or a line.
bool PjlSession::step(std::string* out) {
    if (m_downloadSize || !m_download.empty()) {
        if (m_in.size() < m_downloadSize) return false;
        answer(m_printer.answerPjl(m_download, std::string_view(m_in).substr(0, m_downloadSize), m_job), out);
        m_in.erase(0, m_downloadSize);
        m_download.clear();
        m_downloadSize = 0;
        return true;
    }
    size_t uel = m_in.find(pjl::kUel);
    if (!m_inJob) {
        // Outside a job everything is printed; a UEL cut in two stays for the next bytes.
        if (uel == std::string::npos) {
            print(m_in.size() - std::min(m_in.size(), pjl::kUel.size() - 1));
            return false;
        }
        print(uel);
        uel = 0;
    }
    size_t lineEnd = m_in.find('\n');
    if (uel != std::string::npos && (lineEnd == std::string::npos || uel < lineEnd)) {
        if (!blankLine(std::string_view(m_in).substr(0, uel))) m_log("a line cut short by a UEL was ignored");
        m_in.erase(0, uel + pjl::kUel.size());
        m_inJob = true;
        m_job = {};
        return true;
    }
    if (lineEnd == std::string::npos ? m_in.size() > kMaxLine : lineEnd >= kMaxLine) {
        m_log("a line longer than " + std::to_string(kMaxLine) + " bytes: the connection is closed");
        m_closing = true;
        return false;
    }
    if (lineEnd == std::string::npos) return false;
    std::string line = m_in.substr(0, lineEnd + 1);
    if (blankLine(line)) {
        m_in.erase(0, lineEnd + 1);
    } else if (line.compare(0, pjl::kPrefix.size(), pjl::kPrefix) != 0) {
        m_inJob = false;   // the printer turns to a printer language: printed up to the next UEL
    } else {
        m_in.erase(0, lineEnd + 1);
        command(line, out);
    }
    return true;
}

void PjlSession::command(std::string_view line, std::string* out) {
    auto c = pjl::parseCommand(line);
    if (!c) {
        m_log("a malformed PJL line was ignored");
        return;
    }
    if (c->verb == "USTATUSOFF") m_deviceStatus = false;
    if (const std::string* device = c->option("DEVICE"); c->verb == "USTATUS" && device)
        m_deviceStatus = *device == "ON" || *device == "VERBOSE";
    if (c->verb == "FSDOWNLOAD") {
        const std::string* size = c->option("SIZE");
        auto n = size ? pjl::parseNumber(*size, pjl::kMaxDownload) : std::nullopt;
        if (!n) {
            m_log("an FSDOWNLOAD without a SIZE of at most " + std::to_string(pjl::kMaxDownload) +
                  ": the connection is closed");
            m_closing = true;
            return;
        }
        m_download = std::string(line);
        m_downloadSize = *n;
        return;
    }
    answer(m_printer.answerPjl(line, {}, m_job), out);
}

void PjlSession::answer(std::string reply, std::string* out) {
    if (reply.empty()) return;
    if (m_faults.endless) {
        out->append(reply, 0, reply.find('\n') + 1).append(endlessChunk());
        m_endless = true;
    } else {
        out->append(m_faults.notPjl ? std::string(kNotPjl) : reply);
    }
}

}  // namespace kvsimd
