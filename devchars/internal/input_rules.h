// Rules that the naming steps and the summary steps of input bins share.
#pragma once

namespace kvpo {

// Bin number 4 is the second tray when the printer reports 5 or more bins or
// the bin holds 500 sheets; otherwise it is the feeder.
inline bool binFourIsTray2(unsigned long capacity, unsigned long binCount) { return binCount >= 5 || capacity == 500; }

// Feeders are told apart by their size code: 80 or more is the high one.
inline bool isHighFeeder(int sizeCode) { return sizeCode >= 80; }

}  // namespace kvpo
