// In-process transport: a request through the printer object's bidiQuery and
// the engine to a simulated printer opened as "sim:", against a direct call
// of the same simulated printer's sendBidi with a reply buffer of the same size.
#include <cstdio>
#include <vector>

#include "kvprtobj/kvprtobj.h"
#include "kvprtobj/kvprtsim.h"
#include "side_by_side.h"

namespace {

constexpr unsigned short kPageCounts = kvbidi::kPageCounts;

void throughEngine(benchmark::State& s) {
    unsigned short handle = 0;
    if (BceOpenPrinter("sim:", &handle) != 0) {
        s.SkipWithError(BceLastOpenError());
        return;
    }
    {
        KVPrtObj printer(handle, KVPrtObj::PRINTER_TYPE_0, 0);
        printer.setBidi(1);
        for (auto _ : s) {
            void* reply = nullptr;
            unsigned long length = 0;
            if (printer.bidiQuery(kPageCounts, nullptr, 0, &reply, &length, 1, 0) != 0) s.SkipWithError("request failed");
            ::operator delete(reply);
        }
    }
    BceClosePrinter(handle);
}

void directCall(benchmark::State& s) {
    auto sim = kvsim::SimPrinter::fromDefault();
    for (auto _ : s) {
        // The same work as the transport's own buffer: a reply buffer of the default size.
        void* reply = ::operator new(KVPrtObj::kDefaultReplySize);
        unsigned long length = KVPrtObj::kDefaultReplySize;
        if (sim->sendBidi(0, 0, kPageCounts, reply, &length, nullptr, 0) != 0) s.SkipWithError("request failed");
        benchmark::DoNotOptimize(reply);
        ::operator delete(reply);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("transport/page_counts/subject", throughEngine);
    benchmark::RegisterBenchmark("transport/page_counts/baseline", directCall);
    return kvbench::runPairs(argc, argv, "engine", "direct");
}
