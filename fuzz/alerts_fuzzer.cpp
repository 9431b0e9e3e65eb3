// Every alert read, fed arbitrary alert data (and arbitrary replies to the
// requests an alert read sends after it).
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvfuzz::runInput(kvfuzz::alertOperations(), data, size);
    return 0;
}
