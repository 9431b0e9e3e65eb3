// The stand-in for libkvprm (see standin.h).
#include "standin.h"

namespace standin {
namespace {

long g_result = 0;

long record(Call call) {
    calls().push_back(std::move(call));
    return g_result;
}

}  // namespace

std::vector<Call>& calls() {
    static std::vector<Call> recorded;
    return recorded;
}

void setResult(long result) { g_result = result; }

}  // namespace standin

using standin::Call;
using standin::record;

long bidiResMgmtQueryAlert(KVPrtObj& printer, unsigned short alertId, void* alert) {
    return record({"bidiResMgmtQueryAlert", &printer, {alertId}, {alert}});
}

long bidiResMgmtFileListing(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    return record({"bidiResMgmtFileListing", &printer, {device}});
}

long bidiResMgmtFormat(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    return record({"bidiResMgmtFormat", &printer, {device}});
}

long bidiResMgmtDeleteFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID device) {
    return record({"bidiResMgmtDeleteFile", &printer, {device}, {}, &name, name});
}

long bidiResMgmtCopyFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID source,
                         KVPrtObj::DEVICEID target, int bReplace) {
    return record({"bidiResMgmtCopyFile", &printer, {source, target, bReplace}, {}, &name, name});
}

int parseResMgmtAlertData(void* data, long length, KVPrtObj::DEVICEMGMTALERTDATA* alert) {
    return static_cast<int>(record({"parseResMgmtAlertData", nullptr, {length}, {data, alert}}));
}

// The function's own copy: changing it must not reach the caller.
int parseResMgmtDirectoryData(CString data, KVPrtObj::DEVICEDIRECTORYDATA* directory) {
    int result = static_cast<int>(record({"parseResMgmtDirectoryData", nullptr, {}, {directory}, &data, data}));
    data.assign("changed by the stand-in");
    return result;
}
