// ustatus=device: the status the print port sends unasked (pjl_port.h holds
// the connection). Each status that differs from the one before is a hint
// (a refresh at once, as a trap gives), and every snapshot built while one is
// held shows its device status and panel display instead of SNMP's and IPP's,
// so the device-status and operator-panel alerts reach the host as the
// printer sends them. A dropped connection reports none: the snapshot then
// goes back to SNMP and IPP.
#include "core.h"
#include "kvprtobj/bidicodes.h"

namespace kvnet {
namespace {

bool same(const std::optional<pjl::DeviceStatus>& a, const std::optional<pjl::DeviceStatus>& b) {
    if (!a || !b) return !a == !b;
    return a->code == b->code && a->online == b->online && a->display == b->display;
}

}  // namespace

PjlPort& NetPrinter::Core::printPort() {
    if (!pjlPort) pjlPort = PjlPort::create(options.host, options.pjlPort, options.timeoutMs);
    return *pjlPort;
}

void NetPrinter::Core::holdPjlStatus() {
    if (closed) return;
    std::weak_ptr<Core> weak = shared_from_this();
    printPort().hold([weak](std::optional<pjl::DeviceStatus> status) {
        if (auto self = weak.lock()) self->pjlPushed(std::move(status));
    });
}

void NetPrinter::Core::pjlPushed(std::optional<pjl::DeviceStatus> status) {
    if (closed || same(status, pjlStatus)) return;
    pjlStatus = std::move(status);
    {
        std::lock_guard guard(lock);
        localChanged = true;
    }
    hint();
}

void NetPrinter::Core::applyPjlStatus(Snapshot& s) const {
    if (!pjlStatus) return;
    kvsim::Profile& p = s.profile;
    p.deviceStatus = pjl::deviceStatusBytes(*pjlStatus);
    s.answer(kvbidi::kDeviceStatus);
    if (pjlStatus->display.empty()) return;
    // The display as the library's panel shows it: printer text with what is
    // not printable ASCII as "?", wrapped at the panel's width.
    const kvsim::Panel shown;
    const size_t width = static_cast<size_t>(shown.width), height = static_cast<size_t>(shown.height);
    std::string text = pjlStatus->display.substr(0, width * height);
    for (char& c : text)
        if (c < 0x20 || c > 0x7E) c = '?';
    p.panel.width = shown.width;
    p.panel.height = shown.height;
    p.panel.text.clear();
    for (size_t at = 0; at < text.size(); at += width) p.panel.text.push_back(text.substr(at, width));
    s.answer(kvbidi::kPanelText);
}

}  // namespace kvnet
