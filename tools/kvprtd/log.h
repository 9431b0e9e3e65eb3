// kvprtd's messages: one line each on standard error (the journal under
// systemd), prefixed with the program's name. Texts that came from outside
// (printer texts, file contents) have their control characters escaped.
#pragma once

#include <string>
#include <string_view>

namespace kvprtd {

// Writes "kvprtd: <message>" as one line; safe from any thread.
void logLine(std::string_view message);
// `text` with control characters (and DEL) written as \xNN, for a terminal or a log.
std::string printable(std::string_view text);

}  // namespace kvprtd
