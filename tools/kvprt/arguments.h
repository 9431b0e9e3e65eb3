// What kvprt accepts on its command line beyond CLI11's own checks: numbers
// as the documentation states them, seconds, and names of files on the
// printer's storage devices.
#pragma once

#include <CLI/CLI.hpp>

namespace kvprt {

// A whole number in decimal ("014" is fourteen) or, after 0x, hexadecimal,
// with an optional minus sign; rewritten to plain decimal for CLI11, which
// would otherwise read a leading zero as octal. Add it with ->transform().
extern const CLI::Validator kNumber;
// Seconds: a finite number above 0 and at most kMaxSeconds.
constexpr double kMaxSeconds = 1e6;
extern const CLI::Validator kSeconds;
// A name of a file on a storage device: 1 to 255 characters, none of them a
// control character or ";" (the printer's directory separates items with it).
extern const CLI::Validator kStorageName;

}  // namespace kvprt
