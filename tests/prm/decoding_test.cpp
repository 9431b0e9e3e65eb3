#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "golden.h"
#include "kvprtobj/kvprm.h"
#include "scripted_printer.h"

using namespace kvtest;
using Alert = KVPrtObj::DEVICEMGMTALERTDATA;
using Dir = KVPrtObj::DEVICEDIRECTORYDATA;

namespace {

// Records the family of every alert read.
struct Host : OpenPrtObj {
    using OpenPrtObj::OpenPrtObj;
    std::vector<unsigned long> families;
    long bidiQueryAlert(unsigned short id, unsigned long family, void** data, unsigned long* length, int flag) override {
        families.push_back(family);
        return OpenPrtObj::bidiQueryAlert(id, family, data, length, flag);
    }
};

using Rig = PrinterRigOf<Host>;

const Bytes kCopyAlert = Bytes{0x03, 0xA0, 0x04, 0x02, 0x01}.counted("abc");

// "alert" and hex data, or a directory text ("\0" a zero byte), decoded into a
// record holding "kept" or capacity 9; the result and the record on one line.
std::string decoded(const std::string& input) {
    std::ostringstream out;
    if (input.starts_with("alert ")) {
        Alert a;
        a.strFileName = "kept";
        ByteVec data = hex(input.substr(6));
        out << parseResMgmtAlertData(data.data(), static_cast<long>(data.size()), &a) << " | " << +a.byOperation
            << " " << a.eDevice << " " << a.eSourceDevice << " '" << a.strFileName << "'";
        return out.str();
    }
    Dir d;
    d.ullCapacity = 9;
    out << OpenPrtObj().parseDeviceDirectoryData(withZeros(input), &d) << " | " << d.eDevice << " " << d.ullCapacity
        << " " << d.ullFreeSpace;
    for (const auto& file : d.aFiles) out << " | " << file.ullSize << " '" << file.strName << "'";
    return out.str();
}

}  // namespace

// The requests and the printer's documented statuses run end to end against the
// simulated printer (storage_test.cpp); here the statuses it never sends.
TEST(Requests, UnknownStatusesEmptyRepliesAndFailures) {
    Rig rig;
    const std::pair<Answer, long> replies[] = {
        {reply(hex("02 FF")), KVPRM_E_NO_FILE}, {reply(hex("05")), -2}, {reply({}), -2}, {fail(-17), -17}};
    for (const auto& [answer, rc] : replies) {
        rig.printer.answer(0xA1, answer);
        EXPECT_EQ(rig.obj.bidiDeviceFormat(KVPrtObj::DEVICE_FLASH), rc);
    }
    rig.printer.clearRecords();
    EXPECT_EQ(rig.obj.bidiDeviceFormat(static_cast<KVPrtObj::DEVICEID>(0x101)), KVPRM_E_NO_DEVICE);
    for (const std::string& name : {std::string("a;b"), std::string(256, 'x')})   // 256 overflows the length byte
        EXPECT_EQ(rig.obj.bidiDeviceCopyFile(name, KVPrtObj::DEVICE_DISK, KVPrtObj::DEVICE_FLASH, 0), -3);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
}

// Alert data (hex) decoded, and directory texts; the keys, bounds, blanks and
// refusals are in the golden file.
TEST(Decoding, AlertDataAndDirectoryTexts) {
    expectGolden(KVPO_PRM_DIR "/decoding.golden", decoded);
    Alert alert;
    EXPECT_EQ(parseResMgmtAlertData(const_cast<uint8_t*>(kCopyAlert.data()), -1, &alert), -2);
    EXPECT_EQ(parseResMgmtAlertData(const_cast<uint8_t*>(kCopyAlert.data()), kCopyAlert.size(), nullptr), -18);
    EXPECT_EQ(OpenPrtObj().parseDeviceDirectoryData("", nullptr), -18);
}

TEST(AlertData, ListingAlertFetchesTheDirectory) {
    Rig rig;
    rig.printer.setAlert(5, hex("03 A0 01 02 00 00"));
    rig.printer.answer(0xA4, Bytes{0x00, 0x02}.be16(10).text("DEVICE: 2;"));
    Alert alert;
    ASSERT_EQ(rig.obj.bidiDeviceQueryAlert(5, &alert), 0);
    EXPECT_EQ(std::tuple(rig.obj.families, rig.printer.alertFlags(), rig.printer.lastRequest().data,
                         alert.strDirectoryData),
              std::tuple(std::vector<unsigned long>{KVPRM_ALERT_FAMILY}, std::vector<int>{2}, hex("02"),
                         std::string("DEVICE: 2;")));

    const std::pair<Answer, long> failing[] = {
        {reply(Bytes{0x00, 0x02}.be16(11).text("DEVICE: 2;")), -2},   // shorter than its length
        {reply(Bytes{0x00, 0x01}.be16(0)), -2},                          // another device
        {reply(hex("01")), KVPRM_E_NO_DEVICE},
    };
    for (const auto& [directory, rc] : failing) {
        rig.printer.answer(0xA4, directory);
        Alert kept;
        EXPECT_EQ(rig.obj.bidiDeviceQueryAlert(5, &kept), rc);
        EXPECT_EQ(kept.byOperation, Alert::OP_NONE);
    }
    rig.printer.setAlert(6, ByteVec(2049, 0x03));   // longer than the alert buffer
    EXPECT_EQ(rig.obj.bidiDeviceQueryAlert(6, &alert), -2);
    rig.printer.setAlert(7, hex("03 40 04 02 01 00"));   // another marker: the decoding step's result is returned
    EXPECT_EQ(rig.obj.bidiDeviceQueryAlert(7, &alert), -2);
    EXPECT_EQ(rig.obj.bidiDeviceQueryAlert(5, nullptr), -18);
}
