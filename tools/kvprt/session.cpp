#include "session.h"

namespace kvprt {

Failure::Failure(std::string operation, long code, std::string detail)
    : Failure(std::move(operation), code, code != 0 ? BceResultText(code) : "", std::move(detail)) {}

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
    return text;
}

void check(long rc, const char* operation) {
    if (rc != 0) throw Failure(operation, rc);
}

namespace {

unsigned short openPrinter(const std::string& uri) {
    unsigned short handle = 0;
    long rc = BceOpenPrinter(uri.c_str(), &handle);
    if (rc != 0) {
        std::string why = BceLastOpenError();
        throw Failure("BceOpenPrinter", rc, why.find(uri) != std::string::npos ? why : "cannot open " + uri + ": " + why);
    }
    return handle;
}

}  // namespace

Printer::Printer(const std::string& uri) : Printer(openPrinter(uri), uri) {}

Printer::Printer(unsigned short handle, const std::string& uri) : m_uri(uri), m_handle(handle) {
    // A printer behind a network link is opened whether it answers or not;
    // ask it once so that an unreachable printer is named as such, rather
    // than by the "bidi is not active" of every later request.
    PRTINFO info{};
    long rc = BceGetPrtInfo(m_handle, &info, 1);
    if (rc != 0) {
        BceClosePrinter(m_handle);
        throw Failure("BceGetPrtInfo", rc, "the printer at " + uri + " does not answer");
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
        throw Failure("CreatePrinterObject", 0, "this installation may not manage the printer at " + uri);
    }
}

Printer::Printer(unsigned short handle, KVPrtObj& obj, const std::string& uri)
    : m_uri(uri), m_handle(handle), m_obj(&obj), m_owner(false) {
    unsigned long subtype = 0;
    obj.getPrinterType(&m_type, &subtype);
}

Printer::~Printer() {
    if (!m_owner) return;
    delete m_obj;
    BceClosePrinter(m_handle);
}

}  // namespace kvprt
