// Byte layouts that both replies and alert data carry: the job record, the
// toner data and the operator-panel display.
#pragma once

#include <string>
#include <vector>

#include "profile.h"

namespace kvsim {

// The job record: 41 bytes of numbers and two counted job-information texts;
// the short form (job-transition alerts) ends after byte 20.
Bytes jobRecord(const Job& job, bool full);

// The toner data: the counted leading field, the supply count, a byte, the
// common byte, the record format and the records of that format.
Bytes tonerData(const Toner& toner);

// The display: `height` lines of `width` characters each, padded with blanks.
std::string panelDisplay(const std::vector<std::string>& lines, int width, int height);

}  // namespace kvsim
