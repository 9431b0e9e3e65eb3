// Reading an HTTP/1.1 response (RFC 9112): status line, header fields, and
// a body by Content-Length, by chunks, or up to the close.
#include <charconv>
#include <strings.h>

#include "http.h"
#include "kvprtobj/zorbce.h"

namespace kvnet::ipp::http {
namespace {

constexpr size_t kMaxReason = 64;
constexpr int kStatusOk = 200;
constexpr std::string_view kVersionPrefix = "HTTP/1.";

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Whether the comma-separated list `value` holds `token` (no case).
bool listHolds(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        size_t comma = value.find(',');
        if (sameText(trimmed(value.substr(0, comma)), token)) return true;
        value = comma == value.npos ? std::string_view() : value.substr(comma + 1);
    }
    return false;
}

// The last entry of the comma-separated list `value`.
std::string_view lastOf(std::string_view value) {
    size_t comma = value.rfind(',');
    return trimmed(comma == value.npos ? value : value.substr(comma + 1));
}

bool tokenCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

}  // namespace

ResponseParser::State ResponseParser::state() const {
    return m_step == Step::Done ? State::Done : m_step == Step::Bad ? State::Bad : State::More;
}

ResponseParser::State ResponseParser::fail(std::string error) {
    if (m_step != Step::Bad) m_error = std::move(error);
    m_step = Step::Bad;
    return State::Bad;
}

// Collects one line (CRLF or LF) into `line`, taking at most `limit` more
// bytes (else fails with `tooLong`); false while the line is not whole.
bool ResponseParser::takeLine(std::string_view bytes, size_t* at, size_t limit, const char* tooLong,
                              std::string* line) {
    size_t end = bytes.find('\n', *at);
    size_t take = (end == bytes.npos ? bytes.size() : end) - *at;
    if (take > limit) {
        fail(tooLong);
        return false;
    }
    m_line.append(bytes.substr(*at, take));
    *at += take;
    if (end == bytes.npos) return false;
    ++*at;   // the line feed
    if (!m_line.empty() && m_line.back() == '\r') m_line.pop_back();
    *line = std::move(m_line);
    m_line.clear();
    return true;
}

ResponseParser::State ResponseParser::feed(std::string_view bytes, size_t* used) {
    size_t at = 0;
    if (!bytes.empty()) m_started = true;
    while (at < bytes.size() && state() == State::More) {
        std::string_view rest = bytes.substr(at);
        switch (m_step) {
        case Step::Body:
        case Step::ChunkData: {
            size_t take = std::min(rest.size(), m_remaining);
            appendBody(rest.substr(0, take));
            at += take;
            m_remaining -= take;
            if (m_remaining == 0) m_step = m_step == Step::Body ? Step::Done : Step::ChunkEnd;
            break;
        }
        case Step::UntilClose:
            appendBody(rest);
            at = bytes.size();
            break;
        default: {
            const bool chunkLine = m_step == Step::ChunkSize || m_step == Step::ChunkEnd;
            const size_t spent = chunkLine ? m_line.size() : m_headerBytes;
            const size_t bound = chunkLine ? kMaxChunkLine : kMaxHeaderBytes;
            const size_t before = at;
            std::string line;
            bool whole = takeLine(bytes, &at, spent < bound ? bound - spent : 0,
                                  chunkLine ? "a chunk-size line is too long" : "the response's header is too large",
                                  &line);
            if (!chunkLine) m_headerBytes += at - before;
            if (whole && state() == State::More) onLine(line);
            break;
        }
        }
    }
    *used = at;
    return state();
}

ResponseParser::State ResponseParser::closed() {
    if (m_step == Step::UntilClose) m_step = Step::Done;
    return state();
}

void ResponseParser::onLine(const std::string& line) {
    switch (m_step) {
    case Step::StatusLine: return statusLine(line);
    case Step::Fields:
    case Step::Trailers:
        if (!line.empty()) return field(line);
        if (m_step == Step::Trailers) m_step = Step::Done;
        else endOfFields();
        return;
    case Step::ChunkSize: return chunkSize(line);
    case Step::ChunkEnd:
        if (!line.empty()) fail("a chunk is longer than its size");
        else m_step = Step::ChunkSize;
        return;
    default: return;
    }
}

void ResponseParser::statusLine(const std::string& line) {
    std::string_view s(line);
    // "HTTP/1.x 200 OK"
    constexpr size_t kMinor = kVersionPrefix.size(), kCode = kMinor + 2, kReason = kCode + 4;
    if (s.size() < kCode + 3 || s.substr(0, kMinor) != kVersionPrefix || s[kMinor] < '0' || s[kMinor] > '9' ||
        s[kMinor + 1] != ' ' || (s.size() > kCode + 3 && s[kCode + 3] != ' '))
        return void(fail("the response is not HTTP/1.x"));
    m_http10 = s[kMinor] == '0';
    std::string_view code = s.substr(kCode, 3);
    int status = 0;
    auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), status);
    if (ec != std::errc() || end != code.data() + code.size() || status < 100 || status > 599)
        return void(fail("the response's status code is not a number from 100 to 599"));
    m_response = {};
    m_response.status = status;
    for (char c : s.substr(std::min(s.size(), kReason)))
        if (c >= 0x20 && c < 0x7F && m_response.reason.size() < kMaxReason) m_response.reason += c;
    m_lengthGiven = m_chunked = m_close = m_keepAliveAsked = false;
    m_step = Step::Fields;
}

void ResponseParser::field(const std::string& line) {
    if (++m_fields > kMaxHeaderFields)
        return void(fail("the response has more than " + std::to_string(kMaxHeaderFields) + " header fields"));
    size_t colon = line.find(':');
    if (colon == 0 || colon == line.npos) return void(fail("a header field has no name"));
    std::string_view name(line.data(), colon);
    for (char c : name)
        if (!tokenCharacter(c)) return void(fail("a header field's name is not a token"));
    std::string_view value = trimmed(std::string_view(line).substr(colon + 1));
    if (m_step == Step::Trailers) return;   // trailers are read and ignored

    if (sameText(name, "Content-Length")) {
        size_t length = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (ec != std::errc() || end != value.data() + value.size() || value.empty())
            return void(fail("Content-Length is not a number"));
        if (m_lengthGiven && length != m_remaining) return void(fail("two different Content-Length fields"));
        if (length > kMaxBody) return void(fail("the response's body is larger than " + std::to_string(kMaxBody) + " bytes"));
        m_lengthGiven = true;
        m_remaining = length;
    } else if (sameText(name, "Transfer-Encoding")) {
        if (!sameText(lastOf(value), "chunked")) return void(fail("a transfer coding other than chunked"));
        m_chunked = true;
    } else if (sameText(name, "Connection")) {
        m_close = m_close || listHolds(value, "close");
        m_keepAliveAsked = m_keepAliveAsked || listHolds(value, "keep-alive");
    }
}

void ResponseParser::endOfFields() {
    const int status = m_response.status;
    if (status < 200) {   // an interim response: the real one follows
        m_step = Step::StatusLine;
        return;
    }
    m_response.keepAlive = !m_close && (!m_http10 || m_keepAliveAsked);
    if (status == 204 || status == 304) {
        m_step = Step::Done;
    } else if (m_chunked) {   // chunked wins over a length
        m_step = Step::ChunkSize;
    } else if (m_lengthGiven) {
        m_step = m_remaining == 0 ? Step::Done : Step::Body;
    } else {
        m_response.keepAlive = false;
        m_response.untilClose = true;
        m_step = Step::UntilClose;
    }
}

void ResponseParser::chunkSize(const std::string& line) {
    std::string_view s = trimmed(std::string_view(line).substr(0, line.find(';')));
    size_t size = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), size, 16);
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && size > kMaxBody))
        return void(fail("the response's body is larger than " + std::to_string(kMaxBody) + " bytes"));
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return void(fail("a chunk size is not a hexadecimal number"));
    m_remaining = size;
    m_step = size == 0 ? Step::Trailers : Step::ChunkData;
}

void ResponseParser::appendBody(std::string_view bytes) {
    if (m_response.body.size() + bytes.size() > kMaxBody)
        return void(fail("the response's body is larger than " + std::to_string(kMaxBody) + " bytes"));
    m_response.body.append(bytes);
}

Outcome outcomeOf(Response response) {
    Outcome outcome;
    if (response.status != kStatusOk) {
        outcome.rc = BCE_E_INVALID;
        outcome.error = "HTTP " + std::to_string(response.status) + (response.reason.empty() ? "" : " ") + response.reason;
    }
    outcome.response = std::move(response);
    return outcome;
}

}  // namespace kvnet::ipp::http
