// Printers whose code lives in a library the engine loads at run time, never
// links: the simulated printer (sim:, libkvprtsim.so) and real network
// printers (net://, libkvprtnet.so, which brings SNMP and IPP libraries the
// engine must not depend on). A backend library is looked for beside
// libzorbce.so first, then through the loader's search path, and creates its
// printers through one C factory:
//   BcePrinter* FACTORY(const char* argument, char* message, unsigned long messageSize)
// (null with a message when it refuses the argument).
#pragma once

#include <memory>
#include <string>

#include "kvprtobj/zorbce.h"

namespace zorbce {

struct Backend {
    const char* library;       // "libkvprtsim.so"
    const char* factory;       // "kvprtsim_create"
    const char* description;   // "the simulated printer library"
};

constexpr Backend kSimBackend{"libkvprtsim.so", "kvprtsim_create", "the simulated printer library"};
constexpr Backend kNetBackend{"libkvprtnet.so", "kvprtnet_create", "the network printer library"};

// 0 with the printer; BCE_E_NOT_SUPPORTED when the library cannot be loaded,
// BCE_E_BAD_URI when the factory refuses `argument`; `error` says why.
long createBackendPrinter(const Backend& backend, const char* argument, std::shared_ptr<BcePrinter>* printer,
                          std::string* error);

}  // namespace zorbce
