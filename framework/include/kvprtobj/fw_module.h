// Extension-module registration. Each extension library registers itself when it
// is loaded; each call of its init function (InitKVPrtObjDll for this library)
// adds one more record to the process-wide module list, which the framework owns.
#pragma once

#include <string>
#include <vector>

#include "kvprtobj/fw_base.h"

// Registers an extension module under `name`; false when the name is empty.
KVPO_API bool AfxInitExtensionModule(const char* name);

// Adds one framework record of the module `name` to the module list.
KVPO_API void AfxAddModuleRecord(const char* name);

// The registered extension modules, in registration order.
KVPO_API std::vector<std::string> AfxExtensionModules();

// The module records, in the order they were added (one entry per record).
KVPO_API std::vector<std::string> AfxModuleRecords();
