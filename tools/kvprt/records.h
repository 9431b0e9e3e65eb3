// The library's records as kvprt shows them: read into typed records, and
// their JSON forms, which several commands show: by a query (status, panel,
// jobs, toner, storage) and by an alert (watch).
//
// The report's sections that kvprtd polls (device status, the alerts of each
// family, operator panel, toner, page counts) are read by the read*
// functions below into a Reading: the records and the result code of the
// operation that ended the read. Text and JSON are both rendered from the
// records. A read throws nothing: within a
// KVPrtObjBatch, a read whose reply is still on its way simply ends with the
// batch's kPending, and its next run counts. kvprt's sections render their
// JSON and text from these records; kvprtd keeps the records of its polls
// and renders the same JSON from them when asked.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <kvprtobj/kvprtobj.h>

#include "output.h"
#include "session.h"

namespace kvprt {

// What a read gave: the records, valid when rc is 0; otherwise the operation
// that failed and its result code.
template <class T>
struct Reading {
    long rc = KVPrtObjBatch::kPending;
    const char* operation = "";
    T value{};

    bool ok() const { return rc == 0; }
    // The records; throws the Failure otherwise.
    const T& get() const {
        check(rc, operation);
        return value;
    }
};

struct AlertRecord {
    uint16_t id = 0;
    uint16_t value = 0;
};
using AlertList = std::vector<AlertRecord>;
struct PanelRecord {
    KVPrtObj::OPPANELDATA panel;
    bool locked = false;
};
using TonerList = std::vector<KvTonerPrediction::TonerInfo>;
using AlertFamilies = std::vector<Reading<AlertList>>;   // in the order of alertFamilyKey

Reading<KVPrtObj::PRINTERSTATUS> readDeviceStatus(KVPrtObj& obj);       // status.cpp
Reading<AlertList> readAlertFamily(KVPrtObj& obj, size_t family);        // family < alertFamilyCount()
Reading<PanelRecord> readPanel(KVPrtObj& obj);                           // panel.cpp
Reading<TonerList> readToner(KVPrtObj& obj);                             // supplies.cpp
Reading<KVPrtObj::PAGECOUNTDATA> readPageCounts(KVPrtObj& obj);

// The JSON of a part that failed, as the report holds it: {"unavailable":
// failure} when the printer does not carry it (-3), else {"error": failure}.
json failedPartJson(const Failure& failure);
// A reading's JSON in the report: its records' (toJson), or failedPartJson.
template <class T, class ToJson>
json readingJson(const Reading<T>& reading, ToJson toJson) {
    return reading.ok() ? json(toJson(reading.value)) : failedPartJson(Failure(reading.operation, reading.rc));
}

json deviceStatusJson(const KVPrtObj::PRINTERSTATUS& status);   // status.cpp
// "Ready, printing; paper jam": the status in words (docs/realprinters.md).
std::string deviceStatusLine(const KVPrtObj::PRINTERSTATUS& status);
json alertListJson(const AlertList& alerts);
// Each family under its key: its list, or failedPartJson.
json alertFamiliesJson(const AlertFamilies& families);

// The display's lines in UTF-8, trailing blanks cut.
std::vector<std::string> panelLines(const KVPrtObj::OPPANELDATA& panel);   // panel.cpp
json panelJson(const KVPrtObj::OPPANELDATA& panel);
json panelJson(const PanelRecord& panel);                        // with "locked"
void renderPanelText(const KVPrtObj::OPPANELDATA& panel, std::ostream& out);

json jobJson(const KVPrtObj::KVPJOBDATA& job);                  // jobs.cpp
// A job's state (record byte 0) in words: "pending" ... "completed".
std::string jobStateWord(unsigned byte0);
// "job 7 processing, priority 5, 3 of 10 pages printed"
std::string jobLine(const KVPrtObj::KVPJOBDATA& job);

TonerList tonerList(KvTonerPrediction::TonerInfoArray& supplies);   // supplies.cpp
json tonerJson(const TonerList& supplies);
void renderToner(const TonerList& supplies, std::ostream& out);
// A supply's level as a percent; none when the level is no measurement.
std::optional<unsigned> levelPercent(const KvTonerPrediction::TonerInfo& supply);
// "60 %", "some remaining" or "unknown".
std::string levelWords(const KvTonerPrediction::TonerInfo& supply);
// "2050 pages", or why there is no estimate.
std::string estimateWords(const KvTonerPrediction::TonerInfo& supply);
json pageCountsJson(const KVPrtObj::PAGECOUNTDATA& counts);

const char* deviceWord(KVPrtObj::DEVICEID device);               // storage.cpp: "flash", "disk", "none"
json directoryJson(const KVPrtObj::DEVICEDIRECTORYDATA& directory);

}  // namespace kvprt
