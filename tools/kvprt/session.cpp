#include "session.h"

namespace kvprt {

namespace {

// The printer kvprt opened by its URI: kvprt talks to one printer at a time,
// and its failures of -11 say why bidi went down. Hosts of several printers
// (kvprtd) open them by handle and are not tracked.
Printer* uriPrinter = nullptr;

// What a result that takes bidi down means, in words for the message.
std::string lossText(long code) {
    switch (code) {
    case BCE_E_TIMEOUT: return "the printer stopped answering (-17)";
    case BCE_E_CONNECTION_RESET: return "the connection to the printer was reset (-16)";
    case BCE_E_CHANNEL_DOWN: return "the printer could not be reached (-10)";
    case BCE_E_BAD_REPLY: return "the printer sent a bad reply (-2)";
    case BCE_E_NOT_ACTIVE: return "the printer said its bidi is not active (-11)";
    default: return std::string(BceResultText(code)) + " (" + std::to_string(code) + ")";
    }
}

}  // namespace

Failure::Failure(std::string operation, long code, std::string detail)
    : Failure(std::move(operation), code, code != 0 ? BceResultText(code) : "",
              code == BCE_E_NOT_ACTIVE && detail.empty() && uriPrinter ? uriPrinter->whyNotActive()
                                                                         : std::move(detail)) {}

Failure::Failure(std::string operation, long code, std::string codeText, std::string detail)
    : std::runtime_error(operation),
      m_operation(std::move(operation)),
      m_code(code),
      m_codeText(std::move(codeText)),
      m_detail(std::move(detail)) {}

std::string Failure::message() const {
    std::string text = m_operation + ": ";
    if (m_code != 0) text += std::to_string(m_code) + " (" + m_codeText + ")";
    if (!m_detail.empty()) text += (m_code != 0 ? ": " : "") + m_detail;
    if (!m_reason.empty()) text += ": " + m_reason;
    return text;
}

std::string lastFailure(unsigned short handle) {
    char words[128];
    BceLastFailure(handle, words, sizeof words);
    return words;
}

void check(long rc, const char* operation) {
    if (rc != 0) throw Failure(operation, rc);
}

std::string shownUri(const std::string& uri) {
    std::string shown(BceRedactUri(uri.c_str(), nullptr, 0) + 1, '\0');
    shown.resize(BceRedactUri(uri.c_str(), shown.data(), shown.size()));
    return shown;
}

namespace {

unsigned short openPrinter(const std::string& uri) {
    unsigned short handle = 0;
    long rc = BceOpenPrinter(uri.c_str(), &handle);
    if (rc != 0) {
        std::string why = BceLastOpenError(), shown = shownUri(uri);
        throw Failure("BceOpenPrinter", rc,
                      why.find(shown) != std::string::npos ? why : "cannot open " + shown + ": " + why);
    }
    return handle;
}

}  // namespace

Printer::Printer(const std::string& uri) : Printer(openPrinter(uri), uri) {
    uriPrinter = this;
    beginPart("earlier");
}

Printer::Printer(unsigned short handle, const std::string& uri) : m_uri(shownUri(uri)), m_handle(handle) {
    // A printer behind a network link is opened whether it answers or not;
    // ask it once so that an unreachable printer is named as such, rather
    // than by the "bidi is not active" of every later request.
    PRTINFO info{};
    long rc = BceGetPrtInfo(m_handle, &info, 1);
    if (rc != 0) {
        const std::string reason = lastFailure(m_handle);
        BceClosePrinter(m_handle);
        const bool silent = rc == BCE_E_CHANNEL_DOWN || rc == BCE_E_TIMEOUT;
        const char* what = rc == BCE_E_NO_RESOURCES ? " was not asked"   // this process's shortage, not the printer's
                           : silent                 ? " does not answer"
                                                    : " could not give its information";
        throw Failure("BceGetPrtInfo", rc, "the printer at " + m_uri + what).because(reason);
    }

    // A host learns the printer type from the printer, then makes the object
    // for that type (the type decides Quick Setup files and some decoding).
    m_obj = CreatePrinterObject(m_handle, kAppId, KVPrtObj::PRINTER_TYPE_UNKNOWN);
    if (m_obj != nullptr) {
        unsigned long type = 0, raw = 0;
        if (m_obj->bidiGetPrinterType(&type, &raw) == 0 && (type == 0 || type == 1)) {
            delete m_obj;
            m_obj = CreatePrinterObject(m_handle, kAppId, type);
            m_type = type;
        }
    }
    if (m_obj == nullptr) {
        BceClosePrinter(m_handle);
        throw Failure("CreatePrinterObject", 0, "this installation may not manage the printer at " + m_uri);
    }
}

Printer::Printer(unsigned short handle, KVPrtObj& obj, const std::string& uri)
    : m_uri(shownUri(uri)), m_handle(handle), m_obj(&obj), m_owner(false) {
    unsigned long subtype = 0;
    obj.getPrinterType(&m_type, &subtype);
}

Printer::~Printer() {
    if (uriPrinter == this) uriPrinter = nullptr;
    if (!m_owner) return;
    delete m_obj;
    BceClosePrinter(m_handle);
}

void Printer::beginPart(std::string part) {
    if (m_obj->getBidiFailure() == 0)
        m_lostDuring.clear();   // up (again)
    else if (m_lostDuring.empty())
        m_lostDuring = m_part;
    m_part = std::move(part);
}

std::string Printer::whyNotActive() {
    long failure = m_obj->getBidiFailure();
    if (failure == 0) {
        KVPrtObj::BIDICAPABILITIES caps;
        m_obj->getBidiCaps(&caps);
        return caps.bBidiActive ? "" : "the printer's information does not say it answers bidi requests";
    }
    if (m_lostDuring.empty()) m_lostDuring = m_part;
    return lossText(failure) + " " + m_lostDuring;
}

}  // namespace kvprt
