// A host of the installed library: attaches a printer of its own to the
// engine and asks it something through a printer object.
#include <cstdio>
#include <cstring>

#include "kvprtobj/kvprtobj.h"

namespace {
class LoopPrinter : public BcePrinter {
public:
    long sendBidi(short, unsigned int, unsigned short, void* reply, unsigned long* length, const void*,
                  unsigned long) override {
        const unsigned char bytes[] = {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x2A};
        std::memcpy(reply, bytes, sizeof bytes);
        *length = sizeof bytes;
        return 0;
    }
    long queryAlerts(short, unsigned short, int, void*, unsigned long*) override { return -3; }
    long getPrtInfo(PRTINFO* info, int) override {
        *info = PRTINFO{};
        info->usFlags = PRTINFO_BIDI_CAPABLE;
        info->ulAttachment = 0x02;
        return 0;
    }
    long getPrinterAddrEx(unsigned int, NETADDRESS_LEVEL2*, int) override { return -3; }
    long getPrinterName(unsigned int, char*, char*) override { return -3; }
};
}  // namespace

int main() {
    unsigned short handle = 0;
    if (BceAttachPrinter(std::make_shared<LoopPrinter>(), &handle) != 0) return 1;
    InitKVPrtObjDll();
    KVPrtObj* printer = CreatePrinterObject(handle, 1, 0);
    if (printer == nullptr) return 2;
    KVPrtObj::PAGECOUNTDATA counts;
    long rc = printer->bidiGetPageCounts(&counts);
    char text[kSizeToStringBuffer];
    SizeToString(counts.dwPageCountType1, text);
    std::printf("page count %s (%s)\n", text, BceResultText(rc));
    // Device storage management goes through libkvprm, which the package
    // brings along: this printer's answer byte 01 says "no such device".
    long storage = printer->bidiDeviceFormat(KVPrtObj::DEVICE_FLASH);
    std::printf("format: %s\n", BceResultText(storage));
    delete printer;
    BceClosePrinter(handle);
    if (rc != 0 || counts.dwPageCountType1 != 42) return 3;
    if (storage != KVPRM_E_NO_DEVICE) return 4;
    std::printf("consumer ok\n");
    return 0;
}
