// Device storage management: the members hand their arguments to the
// device-management library unchanged and return its results unchanged.
#include "kvprtobj/kvprm.h"
#include "kvprtobj/prtobj.h"

long KVPrtObj::bidiDeviceFileListing(DEVICEID device) { return bidiResMgmtFileListing(*this, device); }

long KVPrtObj::bidiDeviceFormat(DEVICEID device) { return bidiResMgmtFormat(*this, device); }

long KVPrtObj::bidiDeviceDeleteFile(const CString& name, DEVICEID device) {
    return bidiResMgmtDeleteFile(*this, name, device);
}

long KVPrtObj::bidiDeviceCopyFile(const CString& name, DEVICEID source, DEVICEID target, int bReplace) {
    return bidiResMgmtCopyFile(*this, name, source, target, bReplace);
}

long KVPrtObj::bidiDeviceQueryAlert(unsigned short alertId, void* alert) {
    return bidiResMgmtQueryAlert(*this, alertId, alert);
}

// `data` is passed by value: the function gets its own copy.
long KVPrtObj::parseDeviceDirectoryData(CString data, DEVICEDIRECTORYDATA* directory) {
    return parseResMgmtDirectoryData(data, directory);
}

long KVPrtObj::parseDeviceAlertData(void* data, long length, DEVICEMGMTALERTDATA* alert) {
    return parseResMgmtAlertData(data, length, alert);
}
