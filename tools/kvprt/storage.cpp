// Files of the printer's storage devices: storage ls, format, rm and cp.
#include <vector>

#include "arguments.h"
#include "command.h"
#include "records.h"

namespace kvprt {
namespace {

constexpr unsigned long kListingTimeoutMs = 5000;

KVPrtObj::DEVICEID deviceOf(const std::string& word) {
    if (word == "flash") return KVPrtObj::DEVICE_FLASH;
    if (word == "disk") return KVPrtObj::DEVICE_DISK;
    throw CLI::ValidationError("DEVICE", "a device is flash or disk: " + word);
}

// Asks for a device's listing and waits for its listing alert: the printer
// announces it when the directory is ready, and reading the alert fetches the
// directory text. Alerts of other kinds met on the way are passed over.
KVPrtObj::DEVICEDIRECTORYDATA listDevice(Printer& printer, KVPrtObj::DEVICEID device) {
    KVPrtObj& obj = printer.obj();
    check(obj.bidiDeviceFileListing(device), "bidiDeviceFileListing");
    KVPrtObj::DEVICEMGMTALERTDATA alert;
    for (;;) {
        unsigned short id = 0;
        unsigned long family = 0;
        check(BceWaitAlert(printer.handle(), kListingTimeoutMs, &id, &family), "BceWaitAlert");
        if (family != KVPRM_ALERT_FAMILY) continue;
        check(obj.bidiDeviceQueryAlert(id, &alert), "bidiDeviceQueryAlert");
        if (alert.byOperation == alert.OP_LISTING && alert.eDevice == device) break;
    }
    KVPrtObj::DEVICEDIRECTORYDATA directory;
    check(obj.parseDeviceDirectoryData(alert.strDirectoryData, &directory), "parseDeviceDirectoryData");
    return directory;
}

void renderDirectory(const json& j, std::ostream& out) {
    const json& d = j["directory"];
    out << "Device " << cell(d["device"]) << ": " << cell(d["capacity"]) << " bytes, " << cell(d["free"])
        << " free\n";
    Table table({"Size", "Name"});
    for (const json& file : d["files"]) table.add({cell(file["size"]), cell(file["name"])});
    table.print(out);
}

// A storage command that makes one member call and reports `done`.
void addStorageAction(Context& ctx, CLI::App* command, std::function<json(KVPrtObj&)> act) {
    command->callback([&ctx, act] {
        ctx.action = [&ctx, act] {
            json done = act(ctx.printer().obj());
            ctx.emit(done, [](const json& j, std::ostream& out) { out << cell(j["done"]) << '\n'; });
            return kExitOk;
        };
    });
}

}  // namespace

const char* deviceWord(KVPrtObj::DEVICEID device) {
    return device == KVPrtObj::DEVICE_FLASH ? "flash" : device == KVPrtObj::DEVICE_DISK ? "disk" : "none";
}

json directoryJson(const KVPrtObj::DEVICEDIRECTORYDATA& directory) {
    json files = json::array();
    for (const auto& file : directory.aFiles) files.push_back({{"name", utf8(file.strName)}, {"size", file.ullSize}});
    return {{"device", deviceWord(directory.eDevice)},
            {"capacity", directory.ullCapacity},
            {"free", directory.ullFreeSpace},
            {"files", files}};
}

void addStorageCommands(CLI::App& app, Context& ctx) {
    static std::string device, source, target, name;
    static bool replace = false;
    // `storage` alone shows the storage options (devchars.cpp); these work on the files.
    CLI::App* storage = app.get_subcommand("storage");
    storage->description("Flash, disk and font cartridge; with ls, format, rm or cp their files");
    storage->require_subcommand(0, 1);

    CLI::App* ls = storage->add_subcommand("ls", "List the files of a device");
    ls->add_option("device", device, "flash or disk")->required();
    ls->callback([&ctx] {
        ctx.action = [&ctx] {
            auto directory = listDevice(ctx.printer(), deviceOf(device));
            ctx.emit({{"directory", directoryJson(directory)}}, renderDirectory);
            return kExitOk;
        };
    });

    CLI::App* format = storage->add_subcommand("format", "Format a device: every file on it is lost");
    format->add_option("device", device, "flash or disk")->required();
    addStorageAction(ctx, format, [](KVPrtObj& obj) {
        check(obj.bidiDeviceFormat(deviceOf(device)), "bidiDeviceFormat");
        return json{{"formatted", device}, {"done", "Device " + device + " formatted."}};
    });

    CLI::App* rm = storage->add_subcommand("rm", "Delete a file from a device");
    rm->add_option("device", device, "flash or disk")->required();
    rm->add_option("name", name, "The file's name")->required()->check(kStorageName);
    addStorageAction(ctx, rm, [](KVPrtObj& obj) {
        check(obj.bidiDeviceDeleteFile(name, deviceOf(device)), "bidiDeviceDeleteFile");
        return json{{"deleted", name}, {"device", device}, {"done", "Deleted " + name + " from " + device + "."}};
    });

    // Devices first, as for ls, format and rm.
    CLI::App* cp = storage->add_subcommand("cp", "Copy a file from one device to the other");
    cp->add_option("source", source, "flash or disk")->required();
    cp->add_option("target", target, "flash or disk")->required();
    cp->add_option("name", name, "The file's name")->required()->check(kStorageName);
    cp->add_flag("--replace", replace, "Replace a file of the same name on the target");
    addStorageAction(ctx, cp, [](KVPrtObj& obj) {
        check(obj.bidiDeviceCopyFile(name, deviceOf(source), deviceOf(target), replace ? 1 : 0), "bidiDeviceCopyFile");
        return json{{"copied", name},
                    {"source", source},
                    {"target", target},
                    {"done", "Copied " + name + " from " + source + " to " + target + "."}};
    });
}

}  // namespace kvprt
