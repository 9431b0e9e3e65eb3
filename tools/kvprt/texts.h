// Display texts of the identifiers the library hands back: alert ids, input-
// and output-bin ids and component codes. The library keeps no texts; this
// client keeps one table per kind (texts.cpp).
#pragma once

#include <string>

namespace kvprt {

// Text of an alert id 6102..6257; `value` is the alert's qualifier (as a rule
// the number of the tray, bin or supply it names), woven into the text where
// the alert names an item. Ids without a text get a generic one.
std::string alertText(unsigned id, unsigned value);
// Text of an input-bin id 7101..7112 ("Input bin" for any other).
std::string inputBinText(unsigned id);
// Text of an output-bin id 7201..7224 ("Output bin" for any other).
std::string outputBinText(unsigned id);
// Text of a component code 7701..7710 ("Component" for any other).
std::string componentText(unsigned code);

// Whether a text is kept for the alert id.
bool knownAlert(unsigned id);

}  // namespace kvprt
