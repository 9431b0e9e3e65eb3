// The simulated printer (libkvprtsim.so): an engine printer (BcePrinter)
// driven by a JSON profile (docs/simulator.md). It answers every request code
// of the library by encoding the reply formats the library decodes, keeps
// state (variables that are set read back, deleted jobs are gone, the panel
// follows its buttons and lock), holds alerts of every family and raises new
// ones when its state changes or when told to.
//
// Hosts reach it through the engine with BceOpenPrinter("sim:") or
// BceOpenPrinter("sim:PATH"); tests and the daemon kvprtsimd use this class.
//
// Replies: every reply starts with one byte that the library's transport
// strips; the simulator puts the low byte of the request code there. A reply
// that does not fit the capacity in *replyLength gets -18; capacity 0 means no
// reply is wanted. A request the printer does not know, or whose data is
// malformed (wrong length, unknown variable, unknown job), gets -3.
//
// Alerts: each held alert has an alert id; a new alert gets a fresh id (never
// 0, never one that is held) and is announced with BceNotifyAlert and to the
// listeners. The newest 4096 raised alerts are held, and the profile's own
// alerts (ids 1, 2, ... in profile order) always. queryAlerts answers by id
// whatever the flag; an unknown id gets -3.
//
// Thread-safe: any number of threads may call on one printer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvprtobj/zorbce.h"

#define KVSIM_API __attribute__((visibility("default")))

namespace kvsim {

struct Profile;

// One PJL job on a print-port connection: the values its SET commands gave
// (its current environment), which end with the job.
struct PjlJob {
    std::map<std::string, std::string> set;   // PJL name -> value as PJL text
};

class KVSIM_API SimPrinter : public BcePrinter {
public:
    // A printer of the profile in `json`, or null with `error` naming the
    // faulty field ("inputBins[2].capacity: expected a number from 0 to 255").
    // `overlay`, when given, is a JSON merge patch (RFC 7386) laid over the
    // profile first, such as faultyOverlayJson().
    static std::shared_ptr<SimPrinter> fromJson(std::string_view json, std::string* error, std::string_view overlay = {});
    static std::shared_ptr<SimPrinter> fromFile(const std::string& path, std::string* error,
                                                std::string_view overlay = {});
    // A printer of the built-in profile: a healthy one, no alert active.
    static std::shared_ptr<SimPrinter> fromDefault();
    // The built-in profile's JSON text (sim/profiles/default.json).
    static std::string_view defaultProfileJson();
    // The troubles of a faulty printer as an overlay (sim/profiles/faulty.json):
    // trays empty and needing attention, a bin full, a paper jam, an open
    // cover, toner low, a call for service. Over the built-in profile it
    // raises every alert family's alerts.
    static std::string_view faultyOverlayJson();

    // For the factories above and kvprtsim_create: a printer of a loaded
    // profile; `origin` is the URI it was opened by, when it has one, for the
    // comment of its snapshots.
    explicit SimPrinter(std::unique_ptr<Profile> profile, std::string origin = "");
    ~SimPrinter() override;
    SimPrinter(const SimPrinter&) = delete;
    SimPrinter& operator=(const SimPrinter&) = delete;

    // The profile's name.
    std::string name() const;

    long sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                  unsigned long* replyLength, const void* requestData, unsigned long requestLength) override;
    long queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) override;
    long getPrtInfo(PRTINFO* info, int refresh) override;
    long getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) override;
    long getPrinterName(unsigned int netType, char* name, char* address) override;
    // The printer's present state as a profile: what the requests so far made
    // of its profile (variables set, jobs deleted, the panel, the files).
    long snapshotProfile(std::string* json) override;

    // ---- alerts ----
    using AlertListener = std::function<void(unsigned short alertId, unsigned long family)>;
    // Called, outside the printer's lock, for every new alert; returns a token for removal.
    int addAlertListener(AlertListener listener);
    void removeAlertListener(int token);

    // Holds `data` as a new alert of `family` and announces it; returns its id.
    unsigned short raiseAlert(unsigned long family, std::vector<uint8_t> data);
    // Raises the profile's alert number `index` (profile order) again under a
    // fresh id; 0 when there is none.
    unsigned short raiseProfileAlert(size_t index);
    // The same by the alert's name; 0 when there is none.
    unsigned short raiseProfileAlert(std::string_view name);
    size_t profileAlertCount() const;
    // Changes the device status and raises a device-status alert.
    unsigned short setDeviceStatus(uint8_t byte0, uint8_t byte1, uint8_t byte2);

    // The current value of an object-model variable, if the printer has it.
    std::optional<std::vector<uint8_t>> variable(uint16_t id) const;

    // PJL (docs/simulator.md): the printer's reply to one command line of a
    // PJL job ("@PJL INFO ID"), its form feed included; empty for a line
    // that has none (DEFAULT, SET, FSDELETE, ..., an unknown command, a line
    // that is not PJL). `data` is what followed an FSDOWNLOAD line. A
    // DEFAULT changes the variable as request 0x4F does, its alert included.
    std::string answerPjl(std::string_view line, std::string_view data, PjlJob& job);
    // The status message its print port sends unasked ("@PJL USTATUS
    // DEVICE", CODE=, DISPLAY=, ONLINE=, form feed) as the printer is now.
    std::string pjlStatusMessage() const;

private:
    void announce(const std::vector<std::pair<unsigned short, unsigned long>>& alerts);

    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace kvsim

extern "C" {
// The factory the engine finds with dlsym: a printer of the profile at
// `profilePath` (null: the built-in profile), released with delete; null with
// a message (cut to `messageSize`) when the profile is refused.
KVSIM_API BcePrinter* kvprtsim_create(const char* profilePath, char* message, unsigned long messageSize);
// The built-in profile's JSON text.
KVSIM_API const char* kvprtsim_default_profile();
}
