// Library overhead of decoding: each operation on the largest replies (see
// large_profile.h) against a plain copy of the same bytes into a new buffer,
// which is what the transport does with every reply anyway.
//
// The replies come from the simulated printer once, before timing; the
// printer object's bidiQuery is overridden to hand each operation a fresh
// copy, so the subject is that copy plus the decode and the release of what
// the operation returns.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kvprtobj/kvprtobj.h"
#include "kvprtobj/kvprtsim.h"
#include "large_profile.h"
#include "side_by_side.h"

namespace {

using ByteVec = std::vector<uint8_t>;

// The printer's replies (less their first byte) by request code.
std::map<unsigned short, ByteVec>& replies() {
    static std::map<unsigned short, ByteVec> r;
    return r;
}

class CannedPrinter : public KVPrtObj {
public:
    CannedPrinter() { setBidi(1); }
    long bidiQuery(unsigned short code, void*, unsigned long, void** reply, unsigned long* length, int bAllocate,
                   int) override {
        if (!bAllocate) return 0;
        const ByteVec& bytes = replies()[code];
        *reply = ::operator new(bytes.size());
        std::memcpy(*reply, bytes.data(), bytes.size());
        *length = bytes.size();
        return 0;
    }
};

struct Case {
    const char* name;
    unsigned short code;
    ByteVec request;
    int items;   // records decoded per run
    void (*decode)(CannedPrinter& p);
};

void alertList(CannedPrinter& p, long (KVPrtObj::*query)(unsigned int*, KVPrtObj::KVPALERTDATA**)) {
    unsigned int count = 0;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    (p.*query)(&count, &list);
    ::operator delete(list);
}

const Case kCases[] = {
    {"paper_jams", kvbidi::kPaperJams, {}, 255, [](CannedPrinter& p) { alertList(p, &KVPrtObj::bidiQueryPaperJams); }},
    {"operator_iv", kvbidi::kOperatorIV, {}, 255, [](CannedPrinter& p) { alertList(p, &KVPrtObj::bidiQueryOperatorIV); }},
    {"supplies_status", kvbidi::kSuppliesStatus, {0x00}, 255,
     [](CannedPrinter& p) { alertList(p, &KVPrtObj::bidiQuerySuppliesStatus); }},
    {"input_bins", kvbidi::kInputChars, {}, 255,
     [](CannedPrinter& p) {
         unsigned int count = 0;
         KVPrtObj::INPUTBIN* bins = nullptr;
         p.bidiGetInputChars(&count, &bins);
         delete[] bins;
     }},
    {"output_bins", kvbidi::kOutputChars, {}, 255,
     [](CannedPrinter& p) {
         unsigned int count = 0;
         KVPrtObj::OUTPUTBIN* bins = nullptr;
         p.bidiGetOutputChars(&count, &bins);
         delete[] bins;
     }},
    {"fonts", kvbidi::kFontDetails, {0, 0, 0}, 255,
     [](CannedPrinter& p) {
         unsigned short count = 0;
         _FONTDETAILS* fonts = nullptr;
         p.bidiGetFontDetails(0, 0, &count, &fonts);
         delete[] fonts;
     }},
    {"symbol_sets", kvbidi::kSymbolSets, {}, 255,
     [](CannedPrinter& p) {
         unsigned short count = 0;
         _SYMBOLSET* sets = nullptr;
         p.bidiGetSymbolSetList(&count, &sets);
         delete[] sets;
     }},
    {"jobs", kvbidi::kQueryJobs, {0xFF, 0x00, 0x00, 0x00, 0x40}, 255,
     [](CannedPrinter& p) {
         unsigned int count = 0;
         KVPrtObj::KVPJOBDATA* jobs = nullptr;
         p.bidiQueryJobs(0, &count, &jobs);
         delete[] jobs;
     }},
};

void fetchReplies() {
    std::string error;
    auto sim = kvsim::SimPrinter::fromJson(kvbench::largeProfileJson(), &error);
    if (!sim) {
        std::fprintf(stderr, "decode_bench: the large profile is refused: %s\n", error.c_str());
        std::exit(1);
    }
    for (const Case& c : kCases) {
        ByteVec buffer(KVPrtObj::kMaxReplySize);
        unsigned long length = buffer.size();
        if (sim->sendBidi(0, 0, c.code, buffer.data(), &length, c.request.data(), c.request.size()) != 0) {
            std::fprintf(stderr, "decode_bench: request 0x%02X failed\n", c.code);
            std::exit(1);
        }
        replies()[c.code].assign(buffer.begin() + 1, buffer.begin() + static_cast<std::ptrdiff_t>(length));
    }
}

void registerCases() {
    for (const Case& c : kCases) {
        const size_t bytes = replies()[c.code].size();
        benchmark::RegisterBenchmark((std::string("decode/") + c.name + "/subject").c_str(), [&c, bytes](benchmark::State& s) {
            CannedPrinter printer;
            for (auto _ : s) c.decode(printer);
            s.SetItemsProcessed(s.iterations() * c.items);
            s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * bytes));
        });
        benchmark::RegisterBenchmark((std::string("decode/") + c.name + "/baseline").c_str(), [&c](benchmark::State& s) {
            const ByteVec& reply = replies()[c.code];
            for (auto _ : s) {
                void* copy = ::operator new(reply.size());
                std::memcpy(copy, reply.data(), reply.size());
                benchmark::DoNotOptimize(copy);
                benchmark::ClobberMemory();
                ::operator delete(copy);
            }
            s.SetItemsProcessed(s.iterations() * c.items);
            s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * reply.size()));
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    fetchReplies();
    registerCases();
    return kvbench::runPairs(argc, argv, "decode", "copy");
}
