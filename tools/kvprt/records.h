// JSON forms of the library's records that several commands show: by a
// query (status, panel, jobs, toner, storage) and by an alert (watch).
#pragma once

#include <kvprtobj/kvprtobj.h>

#include "output.h"

namespace kvprt {

json deviceStatusJson(const KVPrtObj::PRINTERSTATUS& status);   // status.cpp
std::string deviceStatusLine(const json& status);

json panelJson(const KVPrtObj::OPPANELDATA& panel);             // panel.cpp
void renderPanelText(const json& panel, std::ostream& out);

json jobJson(const KVPrtObj::KVPJOBDATA& job);                  // jobs.cpp

json tonerJson(KvTonerPrediction::TonerInfoArray& supplies);    // supplies.cpp
void renderToner(const json& supplies, std::ostream& out);

const char* deviceWord(KVPrtObj::DEVICEID device);               // storage.cpp: "flash", "disk", "none"
json directoryJson(const KVPrtObj::DEVICEDIRECTORYDATA& directory);

}  // namespace kvprt
