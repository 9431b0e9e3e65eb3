// kvprtsimd's side of the protocol, frame in and frame out, with no socket:
// the answer to a connection's greeting and the printer's answer to each
// request. It mirrors the engine's engine/tcp_printer.cpp, which builds these
// requests and reads these replies.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvprtobj/kvprtsim.h"
#include "wire/frame.h"

namespace kvsimd {

struct ServedPrinter {
    std::string name;
    std::shared_ptr<kvsim::SimPrinter> printer;
};

struct Greeting {
    kvwire::Frame reply;
    // The index of the printer the greeting selects; none when the frame is
    // no greeting or names no printer served here (the connection closes
    // once the reply is out).
    std::optional<size_t> printer;
};

// The answer to a connection's first frame. A greeting selects a printer by
// name, else by index; empty, the first.
Greeting greet(const std::vector<ServedPrinter>& printers, const kvwire::Frame& hello);

// Any thread: the printer's answer to one request; an error frame for an
// unknown type or a malformed payload.
kvwire::Frame answer(kvsim::SimPrinter& printer, const kvwire::Frame& request);

}  // namespace kvsimd
