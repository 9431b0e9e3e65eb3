// Alert lists and the decoding of alert records into them.
#include <cstring>
#include <limits>
#include <new>

#include "alerts/internal/alert_records.h"

int KVPrtObj::addAlert(KVPALERTDATA** list, unsigned short id, unsigned short value, unsigned int* count) {
    unsigned int n = *list ? *count : 0;
    auto* grown = static_cast<KVPALERTDATA*>(::operator new((n + 1) * sizeof(KVPALERTDATA)));
    if (n) std::memcpy(grown, *list, n * sizeof(KVPALERTDATA));
    grown[n] = KVPALERTDATA{id, value};
    ::operator delete(*list);
    *list = grown;
    ++*count;
    return 1;
}

long KVPrtObj::parseAlertData(unsigned char* records, unsigned int recordCount, unsigned int kind,
                              KVPALERTDATA** list, unsigned int* count) {
    if (recordCount == 0) return BCE_OK;
    // The caller vouches for the extent of the run (see the header).
    kvpo::ReplyReader run(records, std::numeric_limits<size_t>::max());
    kvpo::forEachAlertRecord(run, recordCount, kvpo::strideOfKind(kind), [&](const kvpo::AlertRecord& record) {
        if (auto alert = kvpo::alertOfRecord(kind, record))
            addAlert(list, alert->usAlertId, alert->usAlertValue, count);
    });
    return BCE_OK;
}
