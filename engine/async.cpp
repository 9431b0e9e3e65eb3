// The asynchronous request calls, and the synchronous fallback that printers
// answering in the process inherit from BcePrinter.
#include <new>
#include <vector>

#include "c_boundary.h"
#include "handles.h"
#include "tcp_printer.h"
#include "trace.h"

namespace {

// Hands a completion to the host, dumping the reply first when tracing.
struct Traced {
    BceCompletion done;
    void* context;
    unsigned short handle, code;
    const char* direction;

    static void complete(void* self, long rc, const void* data, unsigned long length) {
        auto* t = static_cast<Traced*>(self);
        zorbce::traceFrame(t->direction, t->handle, t->code, data, rc == BCE_OK ? length : 0, rc);
        BceCompletion done = t->done;
        void* context = t->context;
        delete t;
        done(context, rc, data, length);
    }
};

// Runs a synchronous call with a buffer of `capacity` bytes and reports it.
template <class Call>
long completeNow(unsigned long capacity, BceCompletion done, void* context, Call call) {
    std::vector<unsigned char> buffer;
    long rc;
    unsigned long length = capacity;
    try {
        buffer.resize(capacity ? capacity : 1);
        rc = call(buffer.data(), &length);
    } catch (const std::bad_alloc&) {
        rc = BCE_E_NO_MEMORY;
        length = 0;
    }
    done(context, rc, rc == BCE_OK ? buffer.data() : nullptr, rc == BCE_OK || rc == BCE_E_NO_MEMORY ? length : 0);
    return BCE_OK;
}

}  // namespace

long BcePrinter::sendBidiAsync(short appId, unsigned int netType, unsigned short requestCode, const void* requestData,
                               unsigned long requestLength, unsigned long capacity, BceCompletion done,
                               void* context) {
    return completeNow(capacity, done, context, [&](void* buffer, unsigned long* length) {
        return sendBidi(appId, netType, requestCode, buffer, length, requestData, requestLength);
    });
}

long BcePrinter::queryAlertsAsync(short appId, unsigned short alertId, int flag, unsigned long capacity,
                                  BceCompletion done, void* context) {
    return completeNow(capacity, done, context, [&](void* buffer, unsigned long* length) {
        return queryAlerts(appId, alertId, flag, buffer, length);
    });
}

namespace {

// Routes an asynchronous call to the printer of `handle`, through the tracer
// when tracing is on. No exception leaves it.
template <class Start>
long startAsync(unsigned short handle, unsigned short code, const char* direction, BceCompletion done,
                void* context, Start start) {
    if (done == nullptr) return BCE_E_INVALID;
    try {
        auto printer = zorbce::printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (!zorbce::tracing()) return start(*printer, done, context);
        auto* traced = new Traced{done, context, handle, code, direction};
        long rc = start(*printer, &Traced::complete, traced);
        if (rc != BCE_OK) delete traced;
        return rc;
    } catch (...) {
        return BCE_E_NO_MEMORY;
    }
}

}  // namespace

long BceSendBidiAsync(short appId, unsigned short handle, unsigned int netType, unsigned short requestCode,
                      const void* requestData, unsigned long requestLength, unsigned long capacity,
                      BceCompletion done, void* context) {
    return kvpo::cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        if (requestData == nullptr && requestLength != 0) return BCE_E_INVALID;
        if (zorbce::tracing()) zorbce::traceFrame("request", handle, requestCode, requestData, requestLength, 0);
        return startAsync(handle, requestCode, "reply", done, context, [&](BcePrinter& p, BceCompletion d, void* c) {
            return p.sendBidiAsync(appId, netType, requestCode, requestData, requestLength, capacity, d, c);
        });
    });
}

long BceQueryAlertsAsync(short appId, unsigned short alertId, unsigned short handle, int flag, unsigned long capacity,
                         BceCompletion done, void* context) {
    return startAsync(handle, alertId, "alert", done, context, [&](BcePrinter& p, BceCompletion d, void* c) {
        return p.queryAlertsAsync(appId, alertId, flag, capacity, d, c);
    });
}

long BceRunAsync(unsigned short handle, BceAsyncStart start, void* context) {
    return kvpo::cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        if (start == nullptr) return BCE_E_INVALID;
        auto printer = zorbce::printerOf(handle);
        if (!printer) return BCE_E_BAD_HANDLE;
        if (auto* tcp = dynamic_cast<zorbce::TcpPrinter*>(printer.get())) return tcp->runAsync(start, context);
        start(context);
        return BCE_OK;
    });
}
