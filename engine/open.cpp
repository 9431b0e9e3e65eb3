// BceOpenPrinter: the URI schemes sim:, tcp:// and net://.
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "c_boundary.h"
#include "handles.h"
#include "io_loop.h"
#include "redact.h"
#include "backend_loader.h"
#include "tcp_printer.h"

namespace {

thread_local std::string lastOpenError;

long openPrinter(const std::string& uri, unsigned short* handle) {
    std::shared_ptr<BcePrinter> printer;
    if (uri.compare(0, 4, "sim:") == 0) {
        std::string path = uri.substr(4);
        long rc = zorbce::createBackendPrinter(zorbce::kSimBackend, path.empty() ? nullptr : path.c_str(), &printer,
                                               &lastOpenError);
        if (rc != BCE_OK) return rc;
    } else if (uri.compare(0, 6, "net://") == 0) {
        // The backend parses the whole URI; its messages name an option, never a secret.
        long rc = zorbce::createBackendPrinter(zorbce::kNetBackend, uri.c_str(), &printer, &lastOpenError);
        if (rc != BCE_OK) return rc;
    } else if (uri.compare(0, 6, "tcp://") == 0) {
        zorbce::TcpAddress address;
        if (!zorbce::parseTcpUri(uri, &address, &lastOpenError)) return BCE_E_BAD_URI;
        if (zorbce::IoLoop::onIoThread()) {
            lastOpenError = "a tcp:// printer cannot be opened from the engine's I/O thread (it waits for the server)";
            return BCE_E_INVALID;
        }
        std::shared_ptr<zorbce::TcpPrinter> tcp;
        try {
            tcp = std::make_shared<zorbce::TcpPrinter>(address);   // the first starts the engine's I/O thread
        } catch (const std::system_error& e) {
            lastOpenError = std::string("the engine's I/O thread cannot start: ") + e.what();
            return BCE_E_NO_RESOURCES;
        }
        // A printer that cannot be reached now is opened all the same: its
        // requests connect again. Only a server that refuses the printer fails.
        long rc = tcp->connect();
        if (rc == BCE_E_BAD_URI) {
            lastOpenError = "the server at " + address.host + ":" + address.port + " has no printer \"" +
                            address.printer + "\"";
            return rc;
        }
        printer = std::move(tcp);
    } else {
        lastOpenError = "unknown printer URI (expected sim:, sim:PATH, tcp://HOST:PORT[/PRINTER] or net://HOST[?OPTIONS]): " +
                        zorbce::redactedUri(uri);
        return BCE_E_BAD_URI;
    }
    return zorbce::attach(std::move(printer), handle);
}

}  // namespace

long BceOpenPrinter(const char* uri, unsigned short* handle) {
    lastOpenError.clear();
    return kvpo::cBoundary(BCE_E_NO_MEMORY, [&]() -> long {
        if (uri == nullptr || handle == nullptr) {
            lastOpenError = "no URI or no handle";
            return BCE_E_BAD_URI;
        }
        return openPrinter(uri, handle);
    });
}

const char* BceLastOpenError() { return lastOpenError.c_str(); }
