// Status, alert runs and the operator panel.
#include "encoders.h"

namespace kvsim::encode {
namespace {

void putStatusRecords(Writer& w, const std::vector<StatusRecord>& records) {
    w.u8(static_cast<unsigned>(records.size()));
    for (const StatusRecord& r : records) w.u8(r.id).u8(r.present).u8(r.status);
}

}  // namespace

Reply deviceStatus(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    return replyWith(Bytes(s.deviceStatus.begin(), s.deviceStatus.end()));
}

Reply inputStatus(const Profile& s, const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Writer w;
    putStatusRecords(w, s.inputStatus);
    return replyWith(w);
}

Reply outputStatus(const Profile& s, const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Writer w;
    putStatusRecords(w, s.outputStatus);
    return replyWith(w);
}

// Requests 6 to 11: a count byte and records of category, instance,
// condition, extra length and the extra bytes.
Reply alertRun(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    static const std::vector<AlertRecord> none;
    auto it = s.alertRuns.find(r.code);
    const std::vector<AlertRecord>& records = it == s.alertRuns.end() ? none : it->second;
    Writer w;
    w.u8(static_cast<unsigned>(records.size()));
    for (const AlertRecord& a : records) {
        w.u8(a.category).u8(a.instance).u8(a.condition).u8(static_cast<unsigned>(a.extra.size()));
        w.raw(a.extra.data(), a.extra.size());
    }
    return replyWith(w);
}

Reply suppliesStatus(const Profile& s, const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.suppliesStatus.size()));
    for (const SupplyStatusRecord& x : s.suppliesStatus) w.u8(x.category).u8(x.instance).u8(x.condition).u8(x.value);
    return replyWith(w);
}

Reply panelText(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    std::string text = panelDisplay(s);
    return replyWith(Bytes(text.begin(), text.end()));
}

}  // namespace kvsim::encode
