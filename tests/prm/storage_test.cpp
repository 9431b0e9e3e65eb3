// Device storage management against the simulated printer, in process, as a host drives it:
// list, copy, delete and format, and the failures each documents.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "kvprtobj/kvprm.h"
#include "kvprtobj/kvprtsim.h"
#include "scripted_printer.h"

using Dir = KVPrtObj::DEVICEDIRECTORYDATA;
using Alert = KVPrtObj::DEVICEMGMTALERTDATA;
using Files = std::vector<std::pair<std::string, uint64_t>>;
constexpr auto kFlash = KVPrtObj::DEVICE_FLASH;
constexpr auto kDisk = KVPrtObj::DEVICE_DISK;

namespace {

constexpr const char* kProfile = R"({"storageDevices": [
  {"device": "flash", "capacity": 1000, "files": [{"name": "a.txt", "size": 100}, {"name": "b b", "content": "xyz"},
                                                  {"name": "big.bin", "size": 200}]},
  {"device": "disk", "capacity": 600, "files": [{"name": "c.dat", "size": 450}]}]})";

struct Printer {
    unsigned short handle = 0;
    std::unique_ptr<KVPrtObj> obj;

    explicit Printer(const char* profile = kProfile) {
        std::string error;
        auto sim = kvsim::SimPrinter::fromJson(profile, &error);
        EXPECT_TRUE(sim) << error;
        EXPECT_EQ(BceAttachPrinter(sim, &handle), 0);
        obj = std::make_unique<KVPrtObj>(handle, 0);
        obj->setBidi(1);
    }
    ~Printer() { BceClosePrinter(handle); }

    // The next device-management alert, read through the printer object.
    long nextAlert(Alert* alert) {
        unsigned short id = 0;
        unsigned long family = 0;
        long rc;
        while ((rc = BceWaitAlert(handle, 2000, &id, &family)) == 0 && family != KVPRM_ALERT_FAMILY) {}
        return rc != 0 ? rc : obj->bidiDeviceQueryAlert(id, alert);
    }

    // A listing taken as kvprtobj/kvprm.h shows: alerts of the operations before it are passed over.
    Dir list(KVPrtObj::DEVICEID device) {
        Alert alert;
        Dir dir;
        long rc = obj->bidiDeviceFileListing(device);
        while (rc == 0 && (rc = nextAlert(&alert)) == 0 &&
               !(alert.byOperation == Alert::OP_LISTING && alert.eDevice == device)) {}
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(obj->parseDeviceDirectoryData(alert.strDirectoryData, &dir), 0);
        EXPECT_EQ(dir.eDevice, device);
        return dir;
    }

    std::tuple<uint8_t, KVPrtObj::DEVICEID, KVPrtObj::DEVICEID, std::string> alertSeen() {
        Alert a;
        EXPECT_EQ(nextAlert(&a), 0);
        return {a.byOperation, a.eDevice, a.eSourceDevice, a.strFileName};
    }
};

Files files(const Dir& dir) {
    Files out;
    for (const auto& f : dir.aFiles) out.emplace_back(f.strName, f.ullSize);
    return out;
}

}  // namespace

TEST(Storage, ListsAndCopiesWithinTheRoomOfTheTarget) {
    Printer p;
    Dir flash = p.list(kFlash);
    EXPECT_EQ(files(flash), (Files{{"a.txt", 100}, {"b b", 3}, {"big.bin", 200}}));
    EXPECT_EQ(std::make_pair(flash.ullCapacity, flash.ullFreeSpace), std::make_pair(uint64_t{1000}, uint64_t{697}));
    ASSERT_EQ(p.obj->bidiDeviceCopyFile("a.txt", kFlash, kDisk, 0), 0);
    EXPECT_EQ(p.alertSeen(), std::make_tuple(uint8_t{Alert::OP_COPY}, kDisk, kFlash, std::string("a.txt")));
    const struct {
        const char* name;
        KVPrtObj::DEVICEID source, target;
        int replace;
        long rc;
    } refused[] = {
        {"a.txt", kFlash, kDisk, 0, KVPRM_E_FILE_EXISTS},
        {"big.bin", kFlash, kDisk, 1, KVPRM_E_NO_SPACE},
        {"none", kFlash, kDisk, 0, KVPRM_E_NO_FILE},
        {"a.txt", kFlash, kFlash, 1, -3},   // onto itself
    };
    for (const auto& c : refused) EXPECT_EQ(p.obj->bidiDeviceCopyFile(c.name, c.source, c.target, c.replace), c.rc) << c.name;
    EXPECT_EQ(p.obj->bidiDeviceCopyFile("a.txt", kFlash, kDisk, 1), 0);   // replaces, within 50 + 100
    Dir disk = p.list(kDisk);
    EXPECT_EQ(files(disk), (Files{{"c.dat", 450}, {"a.txt", 100}}));
    EXPECT_EQ(disk.ullFreeSpace, 50u);
}

TEST(Storage, DeletesFilesAndFormatsDevices) {
    Printer p;
    ASSERT_EQ(p.obj->bidiDeviceDeleteFile("a.txt", kFlash), 0);
    EXPECT_EQ(p.alertSeen(), std::make_tuple(uint8_t{Alert::OP_DELETE}, kFlash, KVPrtObj::DEVICE_NONE, std::string("a.txt")));
    EXPECT_EQ(p.obj->bidiDeviceDeleteFile("a.txt", kFlash), KVPRM_E_NO_FILE);
    EXPECT_EQ(p.obj->bidiDeviceDeleteFile("c.dat", kFlash), KVPRM_E_NO_FILE);   // it is on the disk
    EXPECT_EQ(files(p.list(kFlash)), (Files{{"b b", 3}, {"big.bin", 200}}));

    ASSERT_EQ(p.obj->bidiDeviceFormat(kDisk), 0);
    EXPECT_EQ(p.alertSeen(), std::make_tuple(uint8_t{Alert::OP_FORMAT}, kDisk, KVPrtObj::DEVICE_NONE, std::string()));
    Dir disk = p.list(kDisk);
    EXPECT_EQ(files(disk), Files{});
    EXPECT_EQ(disk.ullFreeSpace, 600u);
}

TEST(Storage, DevicesThatDoNotExistAndNamesThatCannotBe) {
    Printer p, bare("{}");   // bare: a printer without storage devices
    const std::pair<Printer*, KVPrtObj::DEVICEID> noDevice[] = {
        {&p, static_cast<KVPrtObj::DEVICEID>(3)}, {&p, KVPrtObj::DEVICE_NONE}, {&bare, kFlash}};
    for (auto [printer, device] : noDevice) {
        EXPECT_EQ(printer->obj->bidiDeviceFileListing(device), KVPRM_E_NO_DEVICE) << device;
        EXPECT_EQ(printer->obj->bidiDeviceFormat(device), KVPRM_E_NO_DEVICE) << device;
        EXPECT_EQ(printer->obj->bidiDeviceDeleteFile("a.txt", device), KVPRM_E_NO_DEVICE) << device;
        EXPECT_EQ(printer->obj->bidiDeviceCopyFile("a.txt", device, kDisk, 0), KVPRM_E_NO_DEVICE) << device;
        EXPECT_EQ(printer->obj->bidiDeviceCopyFile("a.txt", kDisk, device, 0), KVPRM_E_NO_DEVICE) << device;
    }
    for (const std::string& name : {std::string(), std::string("a;b"), std::string("a\nb")})
        EXPECT_EQ(p.obj->bidiDeviceDeleteFile(name, kFlash), -3) << name.size();
    EXPECT_STREQ(BceResultText(KVPRM_E_NO_DEVICE), "no such storage device");
}
