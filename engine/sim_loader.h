// The sim: scheme: the simulated printer lives in libkvprtsim.so, which the
// engine loads at run time (it is never linked), beside libzorbce.so first and
// then from the loader's search path, and creates through its C factory
//   BcePrinter* kvprtsim_create(const char* profilePath, char* message, unsigned long messageSize)
// (a null path is the built-in profile; null with a message on failure).
#pragma once

#include <memory>
#include <string>

#include "kvprtobj/zorbce.h"

namespace zorbce {

// 0 with the printer; BCE_E_NOT_SUPPORTED when the library cannot be loaded,
// BCE_E_BAD_URI when the profile is refused; `error` says why.
long createSimulatedPrinter(const char* profilePath, std::shared_ptr<BcePrinter>* printer, std::string* error);

}  // namespace zorbce
