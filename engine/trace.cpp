#include "trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "kvprtobj/zorbce.h"

namespace zorbce {
namespace {

std::atomic<int>& traceFlag() {
    static std::atomic<int> flag{[] {
        const char* env = std::getenv("KVPRTOBJ_TRACE");
        return env && std::strcmp(env, "0") != 0 && *env ? 1 : 0;
    }()};
    return flag;
}

}  // namespace

bool tracing() { return traceFlag().load(std::memory_order_relaxed) != 0; }

void traceFrame(const char* direction, unsigned short handle, unsigned short code, const void* data, size_t length,
                long result) {
    static std::mutex lock;
    std::string out;
    char line[128];
    std::snprintf(line, sizeof line, "zorbce %s handle %u code 0x%02X result %ld, %zu bytes\n", direction, handle, code,
                  result, length);
    out += line;
    auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t row = 0; bytes && row < length; row += 16) {
        int n = std::snprintf(line, sizeof line, "  %04zx ", row);
        for (size_t i = row; i < row + 16; ++i)
            n += i < length ? std::snprintf(line + n, sizeof line - n, " %02X", bytes[i])
                            : std::snprintf(line + n, sizeof line - n, "   ");
        n += std::snprintf(line + n, sizeof line - n, "  ");
        for (size_t i = row; i < row + 16 && i < length; ++i)
            line[n++] = bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
        line[n++] = '\n';
        out.append(line, static_cast<size_t>(n));
    }
    std::lock_guard guard(lock);
    std::fputs(out.c_str(), stderr);
}

}  // namespace zorbce

void BceSetTrace(int on) { zorbce::traceFlag().store(on ? 1 : 0); }
