// What the Quick Setup tests share: a host window recording the workers' messages, a printer
// whose variables live in a store, and a configuration override that undoes itself.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kvprtobj/kvprtobj.h"
#include "qsf_image.h"
#include "env.h"
#include "scripted_printer.h"
#include "temp_dir.h"
#include "variable_store.h"

namespace qstest {

using kvtest::EnvOverride;

using Message = std::pair<WPARAM, LPARAM>;
using Messages = std::vector<Message>;

constexpr WPARAM kProgress = QuickSetup::QSN_PROGRESS;
constexpr WPARAM kFinished = QuickSetup::QSN_FINISHED;
constexpr WPARAM kError = QuickSetup::QSN_ERROR;

// A message window of the test's thread that records message 2024.
class HostWindow {
public:
    HostWindow() : m_window(CreateMessageWindow(&HostWindow::proc, this)) {}
    ~HostWindow() { DestroyWindow(m_window); }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND handle() const { return m_window; }
    const Messages& seen() const { return m_seen; }
    std::function<void(UINT)> onOther;   // called for every other message

    // Dispatches the thread's messages until (10, 0) has arrived; false after 20 seconds without.
    bool waitFinished() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!finished()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG msg;
            if (GetMessageTimeout(&msg, nullptr, 100) == 1) DispatchMessageA(&msg);
        }
        return true;
    }

private:
    bool finished() const { return !m_seen.empty() && m_seen.back() == Message{kFinished, 0}; }
    static LRESULT proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = static_cast<HostWindow*>(GetWindowUserData(window));
        if (message == QuickSetup::kNotifyMessage)
            self->m_seen.emplace_back(wParam, lParam);
        else if (self->onOther)
            self->onOther(message);
        return 0;
    }

    HWND m_window;
    Messages m_seen;
};

// A scripted printer of a given printer type whose variables live in a store.
struct StoredPrinter {
    kvtest::PrinterRig rig;
    kvtest::VariableStore store;
    explicit StoredPrinter(unsigned long type = 0) {
        rig.obj.setPrinterType(type);
        store.attachTo(rig.printer);
    }
    KVPrtObj* obj() { return &rig.obj; }
    // The ids of the 0x4E or 0x4F requests sent, in order.
    std::vector<unsigned> ids(unsigned short code) const {
        std::vector<unsigned> out;
        for (const auto& r : rig.printer.requests())
            if (r.code == code && r.data.size() >= 2) out.push_back(r.data[0] << 8 | r.data[1]);
        return out;
    }
};

// Points the Quick Setup configuration at a file with `text` for the lifetime of the object.
class ConfigOverride {
public:
    explicit ConfigOverride(const std::string& text) {
        QuickSetup::initVars();
        m_old = QuickSetup::strConfigurationFile;
        kvtest::writeFile(m_dir.file("QSVARS.CFG"), kvtest::Bytes().text(text).vec());
        QuickSetup::strConfigurationFile = m_dir.file("QSVARS.CFG");
    }
    ~ConfigOverride() { QuickSetup::strConfigurationFile = m_old; }

private:
    kvtest::TempDir m_dir;
    std::string m_old;
};

// Runs a send (or a receive) to its end with a window of its own: the messages, and the expected steps.
inline Messages transfer(bool send, KVPrtObj* printer, const std::string& path, unsigned interval = 1,
                         KVQSThreadControl* control = nullptr, unsigned long* steps = nullptr) {
    HostWindow host;
    QuickSetup qs;
    unsigned long expected = 0;
    auto rc = send ? qs.bidiQuickSetupSend(printer, path, host.handle(), &expected, control, interval)
                   : qs.bidiQuickSetupReceive(printer, path, host.handle(), &expected, control, interval);
    EXPECT_EQ(rc, 0u);
    if (steps != nullptr) *steps = expected;
    if (rc != 0) return {};
    EXPECT_TRUE(host.waitFinished());
    return host.seen();
}

inline std::string incompleteLibrary() { return KVTEST_INCOMPLETE_QSFLIB; }

}  // namespace qstest
