// Events: the changes of a printer's state that kvprtd records and streams
// (made by a poll's outcome, outcome.h).
//
//   up, down        the printer answers its polls again / no more (text: why)
//   alert-raised    an alert appeared in one of its alert lists
//   alert-cleared   an alert left its list
//   supply          a toner supply fell to 20 % or less, to 10 % or less, or
//                   to empty (one event naming the lowest mark passed)
//   alert-received  the printer announced an alert; its data, read at once
//
// Alerts are compared from the second poll of a printer in a run of kvprtd
// on; supply levels from the last level in the history on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state.h"

namespace kvprtd {

struct Event {
    uint64_t id = 0;      // in the order of events; the database's and the event stream's id
    int64_t time = 0;     // ms since the epoch
    std::string printer;
    std::string kind;
    std::string text;     // in words
    std::string data = "{}";   // the details: a JSON object's text, rendered once
};

// The event as one JSON object's text: {"id", "time", "printer", "kind", "text", "data"}.
std::string eventJson(const Event& event);

}  // namespace kvprtd
