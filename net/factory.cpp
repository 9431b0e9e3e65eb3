// kvprtnet_create: the C factory the engine finds with dlsym (engine/backend_loader.h).
#include <cstdio>

#include "engine/c_boundary.h"
#include "options.h"
#include "printer.h"

extern "C" __attribute__((visibility("default"))) BcePrinter* kvprtnet_create(const char* uri, char* message,
                                                                              unsigned long messageSize) {
    if (message && messageSize) std::snprintf(message, messageSize, "no memory to open the printer");
    return kvpo::cBoundary(nullptr, [&]() -> BcePrinter* {
        kvnet::NetOptions options;
        std::string error;
        if (uri == nullptr || !kvnet::parseNetUri(uri, &options, &error)) {
            if (message && messageSize) std::snprintf(message, messageSize, "%s", error.c_str());
            return nullptr;
        }
        return new kvnet::NetPrinter(std::move(options), uri);
    });
}
