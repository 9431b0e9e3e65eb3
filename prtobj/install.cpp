// The install type of the host product, read once per process.
#include <atomic>

#include "kvprtobj/fw_settings.h"
#include "kvprtobj/helpers.h"

namespace {
constexpr int kNotRead = 10;
std::atomic<int> g_installType{kNotRead};   // two first readers both store the same value
}  // namespace

int GetInstallType() {
    int cached = g_installType.load(std::memory_order_relaxed);
    if (cached != kNotRead) return cached;
    g_installType.store(0, std::memory_order_relaxed);
    unsigned long value = 0;
    if (AfxGetProfileDword("Settings", "InstallType", &value) && value <= 2)
        g_installType.store(static_cast<int>(value), std::memory_order_relaxed);
    return g_installType.load(std::memory_order_relaxed);
}

int IsVelkorOnlyInstall() { return GetInstallType() == 1 ? 1 : 0; }
