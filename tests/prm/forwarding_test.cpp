// The printer object's device-management members hand their arguments to
// libkvprm unchanged and in order, and return its results unchanged. This
// program runs against the stand-in library (standin.h), which records every
// call and returns what the test chose.
#include <gtest/gtest.h>

#include <functional>

#include "scripted_printer.h"
#include "standin.h"

namespace {

struct Host : kvtest::OpenPrtObj {
    using KVPrtObj::parseDeviceAlertData;
};

struct Case {
    long result;                  // what the stand-in returns
    std::function<long()> call;   // the member called
    standin::Call expected;       // what the stand-in must have been given
};

}  // namespace

TEST(Forwarding, MembersPassArgumentsInOrderAndReturnTheResultUnchanged) {
    Host obj;
    const KVPrtObj* self = &obj;
    CString name = "fonts/code39.ttf";
    KVPrtObj::DEVICEMGMTALERTDATA alert;
    KVPrtObj::DEVICEDIRECTORYDATA directory;
    unsigned char data[4] = {};
    const auto unknown = static_cast<KVPrtObj::DEVICEID>(-5);
    const long beyondInt = -(1L << 40);   // long results are not cut to int

    const Case cases[] = {
        {beyondInt, [&] { return obj.bidiDeviceFileListing(unknown); }, {"bidiResMgmtFileListing", self, {-5}}},
        {-30, [&] { return obj.bidiDeviceFormat(KVPrtObj::DEVICE_DISK); }, {"bidiResMgmtFormat", self, {2}}},
        {-31, [&] { return obj.bidiDeviceDeleteFile(name, KVPrtObj::DEVICE_FLASH); },
         {"bidiResMgmtDeleteFile", self, {1}, {}, &name, name}},
        {7, [&] { return obj.bidiDeviceCopyFile(name, KVPrtObj::DEVICE_DISK, KVPrtObj::DEVICE_FLASH, -9); },
         {"bidiResMgmtCopyFile", self, {2, 1, -9}, {}, &name, name}},
        {-18, [&] { return obj.bidiDeviceQueryAlert(0xFFFE, &alert); },
         {"bidiResMgmtQueryAlert", self, {0xFFFE}, {&alert}}},
        {-2000000000, [&] { return obj.parseDeviceAlertData(data, -3, &alert); },
         {"parseResMgmtAlertData", nullptr, {-3}, {data, &alert}}},
        {-2, [&] { return obj.parseDeviceDirectoryData(name, &directory); },
         {"parseResMgmtDirectoryData", nullptr, {}, {&directory}, nullptr, name}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.function);
        standin::calls().clear();
        standin::setResult(c.result);
        EXPECT_EQ(c.call(), c.result);
        ASSERT_EQ(standin::calls().size(), 1u);
        const standin::Call& got = standin::calls()[0];
        EXPECT_EQ(got.function, c.expected.function);
        EXPECT_EQ(got.printer, c.expected.printer);
        EXPECT_EQ(got.values, c.expected.values);
        EXPECT_EQ(got.pointers, c.expected.pointers);
        EXPECT_EQ(got.textValue, c.expected.textValue);
        if (c.expected.text) {
            EXPECT_EQ(got.text, c.expected.text);   // the caller's string itself
        }
    }
    // The directory parse, called last, got a copy of its own: the stand-in changed it.
    EXPECT_NE(standin::calls()[0].text, &name);
    EXPECT_EQ(name, "fonts/code39.ttf");
}
