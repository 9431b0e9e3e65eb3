// Interruption (SIGINT, SIGTERM) for the commands that run until stopped:
// the signals are taken by a thread of their own, which calls the handler
// the command has set, so that the handler may do anything a thread may.
#pragma once

#include <functional>

namespace kvprt {

// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread it
// starts afterwards) and starts the thread that waits for them. Call it
// before the printer is opened. A signal without a handler (while the
// printer is being opened, say) ends the program with status 130 and a word
// on standard error; so does a second signal.
void catchInterrupts();
// The handler for the next signal (empty: none).
void onInterrupt(std::function<void()> handler);
// Whether a signal has arrived.
bool interrupted();

}  // namespace kvprt
