// The six calls of the engine interface: each routes to the printer attached
// under the handle.
#include "c_boundary.h"
#include "handles.h"
#include "trace.h"

using kvpo::cBoundary;
using kvpo::textOut;
using zorbce::printerOf;

long BceSendBidi(short appId, unsigned short handle, unsigned int netType, unsigned short requestCode, void* reply,
                 unsigned long* replyLength, const void* requestData, unsigned long requestLength) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto printer = printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (replyLength == nullptr) return BCE_E_INVALID;
        bool trace = zorbce::tracing();
        if (trace) zorbce::traceFrame("request", handle, requestCode, requestData, requestLength, 0);
        long rc = printer->sendBidi(appId, netType, requestCode, reply, replyLength, requestData, requestLength);
        if (trace) zorbce::traceFrame("reply", handle, requestCode, reply, rc == 0 ? *replyLength : 0, rc);
        return rc;
    });
}

long BceQueryAlerts(short appId, unsigned short alertId, unsigned short handle, int flag, void* buffer,
                    unsigned long* length) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto printer = printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (length == nullptr) return BCE_E_INVALID;
        long rc = printer->queryAlerts(appId, alertId, flag, buffer, length);
        if (zorbce::tracing()) zorbce::traceFrame("alert", handle, alertId, buffer, rc == 0 ? *length : 0, rc);
        return rc;
    });
}

long BceGetPrtInfo(unsigned short handle, PRTINFO* info, int refresh) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto printer = printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (info == nullptr) return BCE_E_INVALID;
        return printer->getPrtInfo(info, refresh);
    });
}

long BceGetPrinterAddrEx(unsigned short handle, unsigned int netType, NETADDRESS_LEVEL2* address, int level) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto printer = printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (address == nullptr) return BCE_E_INVALID;
        return printer->getPrinterAddrEx(netType, address, level);
    });
}

long BceGetPrinterName(unsigned short handle, unsigned int netType, char* name, char* address) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto printer = printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (name == nullptr || address == nullptr) return BCE_E_INVALID;
        return printer->getPrinterName(netType, name, address);
    });
}

long BceAttachPrinter(std::shared_ptr<BcePrinter> printer, unsigned short* handle) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long { return zorbce::attach(std::move(printer), handle); });
}

long BceClosePrinter(unsigned short handle) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long { return zorbce::detach(handle); });
}

long BcePrinter::snapshotProfile(std::string*) { return BCE_E_NOT_SUPPORTED; }

std::string BcePrinter::lastFailure() const { return {}; }

unsigned long BceLastFailure(unsigned short handle, char* buffer, unsigned long size) {
    return textOut([&] {
        auto printer = printerOf(handle);
        return printer ? printer->lastFailure() : std::string();
    }, buffer, size);
}

long BceSnapshotProfile(unsigned short handle, std::string* json) {
    return cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        auto printer = printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (json == nullptr) return BCE_E_INVALID;
        return printer->snapshotProfile(json);
    });
}
