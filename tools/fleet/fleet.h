// The fleet file, in TOML: the printers kvprtd watches and kvprt --fleet
// runs a command on.
//
//   poll_interval_s = 30              # optional, 1 to 86400, default 30
//   [[printer]]
//   name = "floor1-laser"             # unique; letters, digits, '.', '_', '-' (1 to 64)
//   uri = "tcp://127.0.0.1:9190/0"    # any URI the engine opens
//   location = "Floor 1, copy room"   # optional
//   tags = ["finance"]                # optional; each as a name
//   serial = "EX4K3F2A0451"           # optional; the serial number kvprt discover found
//
// Anything else is refused, so that a misspelt key does not pass unnoticed.
// A URI is sim:..., tcp://HOST... or net://HOST..., checked as the file is
// read (the engine checks the rest when it opens the printer); two printers
// of one tcp:// or net:// URI are refused, since their pages would count
// twice (each sim: is a printer of its own). A fleet of no printers says so
// with `printer = []`: kvprtd refuses to drop every printer on a file that
// merely lists none (an empty file, one cut short).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvprtd {

struct PrinterConfig {
    std::string name;
    std::string uri;
    std::string location;
    std::vector<std::string> tags;
    std::string serial;   // kvprt discover matches the printer by it again; kvprtd does not use it
    bool operator==(const PrinterConfig&) const = default;
};

struct Fleet {
    int pollIntervalS = 30;
    std::vector<PrinterConfig> printers;
    bool emptyOnPurpose = false;   // the file says printer = []
};

// Bounds of the fleet file.
constexpr int kMaxPollIntervalS = 86400;
constexpr size_t kMaxFleetFileBytes = 64u << 20;

// Reads a fleet file, a regular file of at most kMaxFleetFileBytes (opened
// without waiting: a FIFO is refused, not read); on a fault nothing, with
// `error` naming the file, the line and column, and the field:
// "fleet.toml:7:8: printer[2].name: ...".
std::optional<Fleet> readFleet(const std::string& path, std::string* error);
// The same for the text of a file (`path` names it in messages).
std::optional<Fleet> parseFleet(std::string_view text, const std::string& path, std::string* error);

// The text of a fleet file holding `fleet` (which parseFleet reads back as
// it is; comments are not kept).
std::string fleetText(const Fleet& fleet);

// A printer name (or tag): 1 to 64 letters, digits, '.', '_' and '-'.
bool validName(std::string_view name);

}  // namespace kvprtd
