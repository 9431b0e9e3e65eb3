// No exception crosses a function of C linkage: a printer (or a host's alert
// callback) that throws gives the call's failure result instead. Once the
// printer is closed, every call is refused for its handle.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "kvprtobj/kvprtobj.h"

namespace {

class ThrowingPrinter : public BcePrinter {
public:
    long sendBidi(short, unsigned int, unsigned short, void*, unsigned long*, const void*, unsigned long) override {
        throw std::bad_alloc();
    }
    long queryAlerts(short, unsigned short, int, void*, unsigned long*) override { throw std::runtime_error("x"); }
    long getPrtInfo(PRTINFO*, int) override { throw std::bad_alloc(); }
    long getPrinterAddrEx(unsigned int, NETADDRESS_LEVEL2*, int) override { throw 42; }
    long getPrinterName(unsigned int, char*, char*) override { throw std::bad_alloc(); }
};

// The result of an asynchronous call: its own, or the one it completed with.
long completedWith(const std::function<long(BceCompletion, void*)>& start) {
    long completed = 0;
    long rc = start([](void* c, long r, const void*, unsigned long) { *static_cast<long*>(c) = r; }, &completed);
    return rc != 0 ? rc : completed;
}

TEST(CBoundary, EngineCallsOnAThrowingPrinterGiveNoMemoryAndAThrowingCallbackStaysInside) {
    auto printer = std::make_shared<ThrowingPrinter>();
    unsigned short h = 0;
    ASSERT_EQ(BceAttachPrinter(printer, &h), 0);
    unsigned char buffer[16];
    unsigned long length = sizeof buffer;
    PRTINFO info;
    NETADDRESS_LEVEL2 address;
    char name[80], text[80];
    const std::pair<const char*, std::function<long()>> calls[] = {
        {"BceSendBidi", [&] { return BceSendBidi(1, h, 0, 0x10, buffer, &length, nullptr, 0); }},
        {"BceQueryAlerts", [&] { return BceQueryAlerts(1, 1, h, 2, buffer, &length); }},
        {"BceGetPrtInfo", [&] { return BceGetPrtInfo(h, &info, 1); }},
        {"BceGetPrinterAddrEx", [&] { return BceGetPrinterAddrEx(h, 2, &address, 2); }},
        {"BceGetPrinterName", [&] { return BceGetPrinterName(h, 2, name, text); }},
        {"BceSendBidiAsync", [&] {
             return completedWith(
                 [&](BceCompletion d, void* c) { return BceSendBidiAsync(1, h, 0, 1, nullptr, 0, 16, d, c); });
         }},
        {"BceQueryAlertsAsync", [&] {
             return completedWith([&](BceCompletion d, void* c) { return BceQueryAlertsAsync(1, 1, h, 2, 16, d, c); });
         }},
        {"BceRunAsync", [&] {
             return completedWith([&](BceCompletion d, void* c) {
                 struct Start {
                     unsigned short h;
                     BceCompletion d;
                     void* c;
                 } start{h, d, c};
                 return BceRunAsync(h, [](void* p) {
                     auto* s = static_cast<Start*>(p);
                     BceSendBidiAsync(1, s->h, 0, 1, nullptr, 0, 16, s->d, s->c);
                 }, &start);
             });
         }},
    };
    for (const auto& [call, run] : calls) EXPECT_EQ(run(), BCE_E_NO_MEMORY) << call;

    // Discovery meets the failures as results: an object with bidi inactive.
    KVPrtObj* obj = CreatePrinterObject(h, 1, 0);
    ASSERT_NE(obj, nullptr);
    KVPrtObj::BIDICAPABILITIES caps;
    obj->getBidiCaps(&caps);
    EXPECT_EQ(caps.bBidiActive, 0);
    delete obj;
    auto throwing = [](void*, unsigned short, unsigned short, unsigned long) { throw std::runtime_error("host"); };
    ASSERT_EQ(BceSetAlertCallback(h, throwing, nullptr), 0);
    BceNotifyAlert(printer.get(), 7, 0x5F4);
    EXPECT_EQ(BceClosePrinter(h), 0);
    for (const auto& [call, run] : calls) EXPECT_EQ(run(), BCE_E_BAD_HANDLE) << call << " after the close";
    EXPECT_EQ(BceClosePrinter(h), BCE_E_BAD_HANDLE);
}

}  // namespace
