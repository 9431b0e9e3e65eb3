// NetPrinter: a real network printer behind the engine's printer interface.
// Reads are answered from a snapshot of the printer (snapshot.h) through the
// simulator's encoders; the snapshot is refreshed from SNMP and IPP on the
// backend's loop (gateway.h) when a request finds it stale, and on the
// backend's own poll. Writes go to the device. Alerts are raised when a
// refresh sees a change.
#pragma once

#include <memory>
#include <string>

#include "kvprtobj/zorbce.h"
#include "options.h"

namespace kvnet {

class NetPrinter : public BcePrinter {
public:
    // `uri` is the URI the options came from (shown, redacted, in snapshots).
    NetPrinter(NetOptions options, const std::string& uri);
    ~NetPrinter() override;

    long sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                  unsigned long* replyLength, const void* requestData, unsigned long requestLength) override;
    long queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) override;
    long getPrtInfo(PRTINFO* info, int refresh) override;
    long getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) override;
    long getPrinterName(unsigned int netType, char* name, char* address) override;
    long sendBidiAsync(short appId, unsigned int netType, unsigned short requestCode, const void* requestData,
                       unsigned long requestLength, unsigned long capacity, BceCompletion done,
                       void* context) override;
    long snapshotProfile(std::string* json) override;
    // Why the last refresh had no answer from any protocol; "" once one answered.
    std::string lastFailure() const override;

    struct Core;

private:
    std::shared_ptr<Core> m;
};

}  // namespace kvnet
