// The list forms of the alert families: every reply becomes an alert list.
#include "alerts/internal/alert_records.h"
#include "alerts/internal/alert_requests.h"

namespace {

using KVPALERTDATA = KVPrtObj::KVPALERTDATA;

// Input and output status: one entry (or two) per three-byte status record.
long listStatus(KVPrtObj& printer, unsigned short requestCode, unsigned int* count, KVPALERTDATA** list,
                void (*decode)(KVPrtObj&, const kvpo::StatusRecord&, KVPALERTDATA**, unsigned int*)) {
    *count = 0;
    *list = nullptr;
    auto [rc, reply] = kvpo::askFamily(printer, requestCode);
    if (!reply) return rc;
    kvpo::forEachStatusRecord(reply.reader(), [&](const kvpo::StatusRecord& r) { decode(printer, r, list, count); });
    return rc;
}

void inputStatusAlerts(KVPrtObj& printer, const kvpo::StatusRecord& r, KVPALERTDATA** list, unsigned int* count) {
    if (r.state() == 0 && r.present())
        printer.addAlert(list, 6113, r.id, count);
    else
        printer.addAlert(list, 6209, static_cast<unsigned short>((r.id << 8) | r.state()), count);
    if (r.flag() && r.present()) printer.addAlert(list, 6117, r.id, count);
}

void outputStatusAlerts(KVPrtObj& printer, const kvpo::StatusRecord& r, KVPALERTDATA** list, unsigned int* count) {
    if (r.state() == 7) printer.addAlert(list, 6114, r.id, count);
}

// A configuration-change reply shorter than its count and the first record's
// extra length promise (reply byte 4; a reply without it is short as well).
bool configChangeTooShort(const kvpo::Buffer& reply, unsigned n) {
    auto r = reply.reader();
    unsigned firstExtra = r.byteAt(4);
    return !r.ok() || reply.length < 1 + 4ul * n + firstExtra;
}

}  // namespace

long KVPrtObj::queryAlertList(unsigned short requestCode, unsigned int kind, unsigned int* count,
                              KVPALERTDATA** list) {
    *count = 0;
    *list = nullptr;
    auto [rc, reply] = kvpo::askFamily(*this, requestCode);
    if (!reply) return rc;
    auto r = reply.reader();
    unsigned n = r.u8();
    if (n == 0) return rc;
    if (kind == kvpo::kKindConfigChg && configChangeTooShort(reply, n)) {
        addAlert(list, 6201, 0, count);
        return rc;
    }
    unsigned whole = kvpo::completeAlertRecords(r, n, kvpo::strideOfKind(kind));
    if (whole) rc = parseAlertData(static_cast<unsigned char*>(reply.data) + 1, whole, kind, list, count);
    return rc;
}

long KVPrtObj::bidiQueryInputStatus(unsigned int* count, KVPALERTDATA** list) {
    return listStatus(*this, kvbidi::kInputStatus, count, list, inputStatusAlerts);
}

long KVPrtObj::bidiQueryOutputStatus(unsigned int* count, KVPALERTDATA** list) {
    return listStatus(*this, kvbidi::kOutputStatus, count, list, outputStatusAlerts);
}

long KVPrtObj::bidiQueryPaperJams(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kPaperJams, kvpo::kKindPaperJams, count, list);
}

long KVPrtObj::bidiQueryOperatorIV(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kOperatorIV, kvpo::kKindOperatorIV, count, list);
}

long KVPrtObj::bidiQueryWarnings(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kWarnings, kvpo::kKindWarnings, count, list);
}

long KVPrtObj::bidiQueryServiceReq(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kServiceReq, kvpo::kKindServiceReq, count, list);
}

long KVPrtObj::bidiQueryConfigChg(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kConfigChg, kvpo::kKindConfigChg, count, list);
}

long KVPrtObj::bidiQuerySupplies(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kSupplies, kvpo::kKindSupplies, count, list);
}

long KVPrtObj::bidiQuerySuppliesStatus(unsigned int* count, KVPALERTDATA** list) {
    return queryAlertList(kvbidi::kSuppliesStatus, kvpo::kKindSuppliesStatus, count, list);
}
