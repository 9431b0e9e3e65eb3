#include "kvprtobj/fw_module.h"

#include <mutex>

namespace {
struct ModuleList {
    std::mutex lock;
    std::vector<std::string> modules;
    std::vector<std::string> records;
};
ModuleList& moduleList() {
    static ModuleList list;   // lives until process exit, past every library unload
    return list;
}
}  // namespace

bool AfxInitExtensionModule(const char* name) {
    if (name == nullptr || *name == '\0') return false;
    auto& list = moduleList();
    std::lock_guard guard(list.lock);
    list.modules.emplace_back(name);
    return true;
}

void AfxAddModuleRecord(const char* name) {
    auto& list = moduleList();
    std::lock_guard guard(list.lock);
    list.records.emplace_back(name ? name : "");
}

std::vector<std::string> AfxExtensionModules() {
    auto& list = moduleList();
    std::lock_guard guard(list.lock);
    return list.modules;
}

std::vector<std::string> AfxModuleRecords() {
    auto& list = moduleList();
    std::lock_guard guard(list.lock);
    return list.records;
}
