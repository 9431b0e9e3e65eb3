// Code-level texts as numbers, for comparing a printer's level with thresholds.
#pragma once

#include "kvprtobj/fw_base.h"

// The decimal digits of `level` from its second character on, read as one
// number: x3.1.0.0 gives 3100, 123 gives 23 (the first character is never
// looked at), texts without digits give 0. Other characters are skipped. The
// arithmetic is 32-bit: beyond nine digits the value wraps.
KVPO_API long StrCodeLevelToLong(const CString& level);
