// The full poll of one printer, as a fleet service makes it: the device
// status, the toner information and the eight alert summaries, ten requests.
// Run one operation after another (each waiting for its reply), or all
// together through a KVPrtObjBatch. Shared by the tests and the benchmarks.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <vector>

#include "kvprtobj/batch.h"
#include "kvprtobj/prtobj.h"
#include "kvprtobj/toner.h"

namespace kvtest {

struct FullPoll {
    static constexpr size_t kOperations = 10;

    KVPrtObj::PRINTERSTATUS status{};
    KvTonerPrediction::TonerInfoArray toner;
    std::array<KVPrtObj::PRTALERTS, 8> summaries{};
    KVPrtObj::UIRALERTS interventions{};
    std::array<long, kOperations> results{};

    // Operation `i` of the poll on printer object `p`.
    long run(KVPrtObj& p, size_t i) {
        switch (i) {
        case 0: return p.bidiQueryDeviceStatus(&status);
        case 1: return KvTonerPrediction(&p).bidiQueryTonerInfo(toner);
        case 2: return p.bidiQueryInputStatus(&summaries[0]);
        case 3: return p.bidiQueryOutputStatus(&summaries[1]);
        case 4: return p.bidiQueryPaperJams(&summaries[2]);
        case 5: return p.bidiQueryOperatorIV(&summaries[3], &interventions);
        case 6: return p.bidiQueryWarnings(&summaries[4]);
        case 7: return p.bidiQueryServiceReq(&summaries[5]);
        case 8: return p.bidiQueryConfigChg(&summaries[6]);
        default: return p.bidiQuerySupplies(&summaries[7]);
        }
    }

    // The ten operations one after another.
    void runInTurn(KVPrtObj& p) {
        for (size_t i = 0; i < kOperations; ++i) results[i] = run(p, i);
    }

    // The ten operations as operations of `batch`; their results once it is done.
    void addTo(KVPrtObjBatch& batch) {
        for (size_t i = 0; i < kOperations; ++i) batch.add([this, i](KVPrtObj& p) { return run(p, i); });
    }
    void takeResults(const KVPrtObjBatch& batch) {
        for (size_t i = 0; i < kOperations; ++i) results[i] = batch.result(i);
    }

    // The same results and the same decoded records (the supplies by id, level, pages and estimate).
    bool sameAs(const FullPoll& o) const {
        auto supplies = [](const FullPoll& poll) {
            auto& array = const_cast<KvTonerPrediction::TonerInfoArray&>(poll.toner);   // its [] is not const
            std::vector<std::tuple<int, int, uint32_t, int32_t>> out;
            for (unsigned i = 0; i < array.numSupplies(); ++i)
                out.emplace_back(array[i]->bySupplyId, array[i]->byLevel, array[i]->ulPageCount, array[i]->lEstimate);
            return out;
        };
        return results == o.results && std::memcmp(&status, &o.status, sizeof status) == 0 &&
               std::memcmp(summaries.data(), o.summaries.data(), sizeof summaries) == 0 &&
               std::memcmp(&interventions, &o.interventions, sizeof interventions) == 0 && supplies(*this) == supplies(o);
    }
};

}  // namespace kvtest
