// The engine's handle table: handle -> attached printer.
#pragma once

#include <memory>

#include "kvprtobj/zorbce.h"

namespace zorbce {

// The printer attached under `handle`, or null. The caller keeps the printer
// alive for the duration of its call, so a concurrent close is harmless.
std::shared_ptr<BcePrinter> printerOf(unsigned short handle);

long attach(std::shared_ptr<BcePrinter> printer, unsigned short* handle);
long detach(unsigned short handle);

}  // namespace zorbce
