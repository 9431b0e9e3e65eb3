// Every operation that decodes a printer reply, fed arbitrary replies.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvfuzz::runInput(kvfuzz::replyOperations(), data, size);
    return 0;
}
