#include "handles.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "alerts.h"

namespace zorbce {
namespace {

struct Table {
    std::shared_mutex lock;
    std::unordered_map<unsigned short, std::shared_ptr<BcePrinter>> printers;
    unsigned short next = 1;
};

Table& table() {
    static Table* t = new Table;   // outlives static destruction: hosts may close late
    return *t;
}

}  // namespace

std::shared_ptr<BcePrinter> printerOf(unsigned short handle) {
    auto& t = table();
    std::shared_lock guard(t.lock);
    auto it = t.printers.find(handle);
    return it == t.printers.end() ? nullptr : it->second;
}

long attach(std::shared_ptr<BcePrinter> printer, unsigned short* handle) {
    if (!printer || handle == nullptr) return BCE_E_INVALID;
    auto& t = table();
    std::unique_lock guard(t.lock);
    // Handles run 1..65535 and are handed out round-robin, so a closed handle
    // is not reused before all others have been.
    for (unsigned tries = 0; tries < 65535; ++tries) {
        unsigned short h = t.next;
        t.next = static_cast<unsigned short>(h == 65535 ? 1 : h + 1);
        if (t.printers.count(h)) continue;
        t.printers.emplace(h, std::move(printer));
        *handle = h;
        registerAlertHandle(t.printers[h].get(), h);
        return BCE_OK;
    }
    return BCE_E_NO_HANDLE;
}

long detach(unsigned short handle) {
    std::shared_ptr<BcePrinter> printer;
    {
        auto& t = table();
        std::unique_lock guard(t.lock);
        auto it = t.printers.find(handle);
        if (it == t.printers.end()) return BCE_E_BAD_HANDLE;
        printer = std::move(it->second);
        t.printers.erase(it);
    }
    unregisterAlertHandle(printer.get(), handle);
    return BCE_OK;   // the printer goes when its last caller lets go of it
}

}  // namespace zorbce
