// The six calls of the engine interface: each routes to the printer attached
// under the handle.
#include <new>

#include "handles.h"
#include "trace.h"

using zorbce::printerOf;

namespace {

// Runs a printer's call; no exception leaves it.
template <class Call>
long guarded(Call call) {
    try {
        return call();
    } catch (...) {
        return BCE_E_NO_MEMORY;   // the only exception a printer's call raises
    }
}

}  // namespace

long BceSendBidi(short appId, unsigned short handle, unsigned int netType, unsigned short requestCode, void* reply,
                 unsigned long* replyLength, const void* requestData, unsigned long requestLength) {
    auto printer = printerOf(handle);
    if (!printer) return BCE_E_BAD_HANDLE;
    if (replyLength == nullptr) return BCE_E_INVALID;
    bool trace = zorbce::tracing();
    if (trace) zorbce::traceFrame("request", handle, requestCode, requestData, requestLength, 0);
    long rc = guarded([&] { return printer->sendBidi(appId, netType, requestCode, reply, replyLength, requestData, requestLength); });
    if (trace) zorbce::traceFrame("reply", handle, requestCode, reply, rc == 0 ? *replyLength : 0, rc);
    return rc;
}

long BceQueryAlerts(short appId, unsigned short alertId, unsigned short handle, int flag, void* buffer,
                    unsigned long* length) {
    auto printer = printerOf(handle);
    if (!printer) return BCE_E_BAD_HANDLE;
    if (length == nullptr) return BCE_E_INVALID;
    long rc = guarded([&] { return printer->queryAlerts(appId, alertId, flag, buffer, length); });
    if (zorbce::tracing()) zorbce::traceFrame("alert", handle, alertId, buffer, rc == 0 ? *length : 0, rc);
    return rc;
}

long BceGetPrtInfo(unsigned short handle, PRTINFO* info, int refresh) {
    auto printer = printerOf(handle);
    if (!printer) return BCE_E_BAD_HANDLE;
    if (info == nullptr) return BCE_E_INVALID;
    return guarded([&] { return printer->getPrtInfo(info, refresh); });
}

long BceGetPrinterAddrEx(unsigned short handle, unsigned int netType, NETADDRESS_LEVEL2* address, int level) {
    auto printer = printerOf(handle);
    if (!printer) return BCE_E_BAD_HANDLE;
    if (address == nullptr) return BCE_E_INVALID;
    return guarded([&] { return printer->getPrinterAddrEx(netType, address, level); });
}

long BceGetPrinterName(unsigned short handle, unsigned int netType, char* name, char* address) {
    auto printer = printerOf(handle);
    if (!printer) return BCE_E_BAD_HANDLE;
    if (name == nullptr || address == nullptr) return BCE_E_INVALID;
    return guarded([&] { return printer->getPrinterName(netType, name, address); });
}

long BceAttachPrinter(std::shared_ptr<BcePrinter> printer, unsigned short* handle) {
    return zorbce::attach(std::move(printer), handle);
}

long BceClosePrinter(unsigned short handle) { return zorbce::detach(handle); }
