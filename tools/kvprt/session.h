// The printer kvprt talks to: an engine handle opened from a URI and the
// printer object made for it, with discovery run. Failures are reported as
// Failure exceptions that name the operation and its result code.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <kvprtobj/kvprtobj.h>

namespace kvprt {

// A failed operation: its name, its result code with the meaning of the code
// (BceResultText unless given), and a detail where the code does not say all.
// Code 0 stands for a failure that has no code. A -11 (bidi not active) of
// the open printer gets as its detail why the flag went down (Printer::whyNotActive).
class Failure : public std::runtime_error {
public:
    Failure(std::string operation, long code, std::string detail = "");
    Failure(std::string operation, long code, std::string codeText, std::string detail);
    const std::string& operation() const { return m_operation; }
    long code() const { return m_code; }
    const std::string& codeText() const { return m_codeText; }
    // Why the printer could not be reached, as the system said it
    // ("connection refused"; BceLastFailure), when known.
    const std::string& reason() const { return m_reason; }
    Failure& because(std::string reason) {
        m_reason = std::move(reason);
        return *this;
    }
    // "bidiGetInputChars: -11 (bidi is not active for this printer)", then ": REASON"
    std::string message() const;

private:
    std::string m_operation;
    long m_code;
    std::string m_codeText;
    std::string m_detail;
    std::string m_reason;
};

// Why the last attempt to reach the printer of `handle` failed; "" when not known.
std::string lastFailure(unsigned short handle);

// Throws a Failure unless `rc` is 0.
void check(long rc, const char* operation);

// A printer URI as kvprt and kvprtd show it: secrets (community=, auth=)
// replaced by "***" (BceRedactUri).
std::string shownUri(const std::string& uri);

class Printer {
public:
    // Opens `uri` (BceOpenPrinter), makes sure the printer answers (its
    // printer information), makes the printer object for its type
    // (CreatePrinterObject) and runs discovery. Throws Failure.
    explicit Printer(const std::string& uri);
    // The same for `handle`, which the caller opened from `uri`: the printer
    // takes it over (and closes it when it throws).
    Printer(unsigned short handle, const std::string& uri);
    // A view of a printer object that stays its owner's (a host's, or the
    // copy a KVPrtObjBatch operation runs on): closes and deletes nothing.
    Printer(unsigned short handle, KVPrtObj& obj, const std::string& uri);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    KVPrtObj& obj() { return *m_obj; }
    unsigned short handle() const { return m_handle; }
    // The printer's URI as it may be shown (shownUri).
    const std::string& uri() const { return m_uri; }
    // The printer type the object was made for (0, 1 or 0xFFFFFFFF).
    unsigned long printerType() const { return m_type; }

    // Marks the start of a part of the work ("while reading \"Toner\""), so
    // that the loss of bidi can be placed in the part during which it happened.
    void beginPart(std::string part);
    // Why the printer object refuses requests with -11: the result that
    // cleared its bidi-active flag and when ("the printer stopped answering
    // (-17) during discovery"); empty while the flag is set.
    std::string whyNotActive();

private:
    std::string m_uri;
    std::string m_part = "during discovery";
    std::string m_lostDuring;   // the part during which the flag went down, once known
    unsigned short m_handle = 0;
    KVPrtObj* m_obj = nullptr;
    unsigned long m_type = KVPrtObj::PRINTER_TYPE_UNKNOWN;
    bool m_owner = true;
};

// The application id kvprt passes with every engine call.
constexpr short kAppId = 1;

}  // namespace kvprt
