// The engine's alert announcements: per handle, a queue of (alert id, family)
// that BceWaitAlert takes from.
#pragma once

#include "kvprtobj/zorbce.h"

namespace zorbce {

void registerAlertHandle(const BcePrinter* printer, unsigned short handle);
void unregisterAlertHandle(const BcePrinter* printer, unsigned short handle);

}  // namespace zorbce
