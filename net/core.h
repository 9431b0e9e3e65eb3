// The state of one net:// printer behind NetPrinter: the snapshot the
// callers' threads answer from (under `lock`), and what the backend's loop
// keeps to refresh it (refresh.cpp). Requests and writes: answers.cpp; what
// PJL answers on demand: pjl_answers.cpp, device storage pjl_storage.cpp.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio/steady_timer.hpp>

#include "alert_store.h"
#include "pjl_font.h"
#include "pjl_variables.h"
#include "events.h"
#include "gateway.h"
#include "ipp/client.h"
#include "ipp/fill.h"
#include "pjl_port.h"
#include "printer.h"
#include "snapshot.h"
#include "snmp/client.h"
#include "storage.h"

namespace kvnet {

using Clock = std::chrono::steady_clock;

// A snapshot younger than this answers a request without asking the printer.
constexpr auto kMaxAge = std::chrono::seconds(2);

// How the last refresh went, per protocol: 0 answered, else why not.
struct Outcome {
    long snmp = BCE_E_TIMEOUT, ipp = BCE_E_TIMEOUT;
    long pjl = BCE_E_NOT_SUPPORTED;   // INFO ID, asked only when PJL is the one protocol
    std::string why;   // each failure's words, as the protocol's client said them: "SNMP: no answer"
    bool any() const { return snmp == BCE_OK || ipp == BCE_OK || pjl == BCE_OK; }
    bool snmpOrIpp() const { return snmp == BCE_OK || ipp == BCE_OK; }
    // Notes the failure of protocol `name`.
    void failed(long* protocol, const char* name, long rc, const std::string& words) {
        *protocol = rc;
        why += (why.empty() ? "" : "; ") + std::string(name) + ": " + words;
    }
};

// An asynchronous request waiting for a refresh.
struct Pending {
    unsigned short code = 0;
    kvsim::Bytes data;
    unsigned long capacity = 0;
    BceCompletion done = nullptr;
    void* context = nullptr;
};

struct NetPrinter::Core : std::enable_shared_from_this<Core> {
    Core(NetOptions o, std::string shown)
        : options(std::move(o)), shownUri(std::move(shown)), pollTimer(Gateway::instance().context()) {}

    const NetOptions options;
    const std::string shownUri;   // the URI as it may be shown

    // Shared with the callers' threads, under `lock`.
    std::mutex lock;
    std::condition_variable refreshed;
    std::shared_ptr<const Snapshot> snapshot;
    Clock::time_point snapshotTime;
    Outcome outcome;
    uint64_t generation = 0;   // finished refreshes
    bool refreshing = false;
    std::vector<Pending> pending;
    kvsim::AlertStore alerts;
    // The backend's own state: the host page count's base, and the variables
    // only the library uses (toner page count 07 77, property tag 07 54).
    std::optional<uint32_t> hostPageBase;
    std::vector<kvsim::Variable> localVariables;
    bool localChanged = false;   // the next refresh builds a new snapshot
    // The ids of the map whose variables the printer lists in INFO
    // VARIABLES; asked at the first variable request, kept once answered.
    std::optional<std::vector<uint16_t>> pjlListed;

    // This printer's registration for trap hints, while it lives.
    std::shared_ptr<void> trapHints;

    // The printer that announces alerts; null once it is gone.
    std::recursive_mutex ownerLock;
    BcePrinter* owner = nullptr;

    // The loop's own.
    std::shared_ptr<snmp::Client> snmpClient;
    std::shared_ptr<ipp::Client> ippClient;
    std::shared_ptr<PjlPort> pjlPort;   // made on the first PJL exchange, or to hold the status
    std::optional<std::string> pjlModel;   // INFO ID's, with PJL alone
    // The status the print port last reported with ustatus=device (none
    // while it reports none): over SNMP's and IPP's in each new snapshot.
    std::optional<pjl::DeviceStatus> pjlStatus;
    bool hinted = false;   // a hint came during a refresh: another follows it
    snmp::MibView view;
    bool walked = false;
    std::optional<int64_t> configChanges;   // the printer's change counter when last read
    std::optional<Clock::time_point> configChangedAt;
    ipp::Response ippState;
    ipp::JobNumbers jobNumbers;
    asio::steady_timer pollTimer;
    bool closed = false;
    // The refresh in flight.
    int outstanding = 0;
    Outcome running;
    bool changed = false;

    bool wants(Protocol p) const { return (options.protocols & p) != 0; }

    // Refresh, on the loop (refresh.cpp). startRefresh asks every protocol
    // (one refresh at a time); each source ends in sourceDone, the last one in
    // finishRefresh, which builds the new snapshot, raises what changed,
    // answers the pending requests and schedules the next poll.
    void startRefresh();
    // A hint that the printer changed (a trap, a status the print port
    // sent): a refresh now, or once the one in flight is over.
    void hint();
    void sourceDone();
    void refreshSnmp();
    // Walks `roots` one after another, each replacing its subtree of the view.
    void walk(std::vector<snmp::Oid> roots, size_t next);
    void refreshIpp();
    void refreshPjlIdentity();
    // A new snapshot from what each protocol answered in this refresh.
    std::shared_ptr<Snapshot> build();
    // A moved configuration counter lists a configuration change (6201) for a while.
    void noteConfigChange(Snapshot& s);
    // What every net:// printer is before any protocol tells more.
    void baseIdentity(kvsim::Profile& p) const;
    // The parts the backend keeps itself. Caller: the loop; reads `lock`-guarded state.
    void addLocalState(Snapshot& s);
    // Device status byte 1: operator intervention, paper jam, warning, service
    // (added to what the held PJL status gives).
    static void deriveConditions(kvsim::Profile& p);
    void finishRefresh();
    void schedulePoll();
    void close();
    // Holds the alerts and announces them (BceNotifyAlert) while the printer lives.
    void raise(const std::vector<PushedAlert>& pushed);

    // Requests, from the callers' threads (answers.cpp).
    // The code a request gets when the snapshot cannot answer it.
    long unanswered(const Outcome& o) const;
    // A snapshot fresh enough to answer from, waiting for a refresh when the
    // one held is stale. Null with `rc` when none came in time.
    std::shared_ptr<const Snapshot> fresh(Outcome* o, long* rc);
    // A fresh snapshot of a printer that answered it; null with `rc` (also
    // -3 on the loop's thread, which must not wait for itself).
    std::shared_ptr<const Snapshot> answering(long* rc);
    long answerRead(const Snapshot& s, const Outcome& o, unsigned short code, const uint8_t* data,
                    unsigned long length, void* reply, unsigned long* replyLength);
    long request(unsigned short code, const uint8_t* data, unsigned long length, void* reply,
                 unsigned long* replyLength);
    // An asynchronous read that waited for a refresh, answered on the loop.
    void completePending(Pending& p);
    // Runs `start` on the loop and waits for the result it reports.
    long onLoop(std::function<void(std::function<void(long)>)> start);
    long setSnmpVariable(const Snapshot& s, const kvsim::PjlVariable& variable, const kvsim::Bytes& value);
    // The snapshot with one variable changed (read-your-write), and its event.
    long patchVariable(uint16_t id, const kvsim::Bytes& value);
    long setLocalVariable(uint16_t id, const kvsim::Bytes& value);
    long cancelJob(const Snapshot& s, uint16_t number);
    // Writes: to the device, or to the backend's own state.
    long write(const Snapshot& s, unsigned short code, const uint8_t* data, unsigned long length, void* reply,
               unsigned long* replyLength);

    // PJL, from the callers' threads (pjl_answers.cpp). True when PJL is
    // asked and may answer requests of `code`.
    bool pjlMayAnswer(unsigned short code) const;
    // True when PJL is asked and answers a request the snapshot does not.
    bool pjlAnswers(const Snapshot& s, unsigned short code, const uint8_t* data, unsigned long length) const;
    long answerPjl(const Snapshot& s, const Outcome& o, unsigned short code, const uint8_t* data,
                   unsigned long length, void* reply, unsigned long* replyLength);
    // The print port, made on first use. Loop thread only.
    PjlPort& printPort();
    // ustatus=device (pjl_status.cpp): holds the print port for the status
    // it sends, each new one applied as a hint; on the loop.
    void holdPjlStatus();
    void pjlPushed(std::optional<pjl::DeviceStatus> status);
    // The held status over the snapshot's device status and panel.
    void applyPjlStatus(Snapshot& s) const;
    // One exchange on the print port: its replies, or why none.
    long pjlExchange(const pjl::Request& request, size_t replies, std::vector<std::string>* out);
    // `INFO category` on the print port: its one reply, or why none.
    long pjlInfo(const char* category, std::string* reply);
    // The map's variables `ids` as the printer holds them (those it lacks left out).
    long readPjlVariables(const std::vector<uint16_t>& ids, std::vector<kvsim::Variable>* out);
    long writePjlVariable(uint16_t id, const kvsim::Bytes& value);
    // Whether the printer lists the map's variable `id` (pjlListed).
    long pjlLists(uint16_t id, bool* listed);
    long readPjlPageCount(uint32_t* count);
    // The current font (pjl_font.cpp); `sizeField` is the variable its size came from.
    long readPjlFont(kvsim::CurrentFont* font, kvsim::PjlFontField* sizeField);
    long writePjlFont(const kvsim::CurrentFont& font, uint8_t* status);
    // What a failed PJL exchange answers: -3 while SNMP or IPP answer.
    long pjlFailure(const Outcome& o, long rc) const;

    // Device storage through the PJL file system (pjl_storage.cpp): requests
    // 0xA0-0xA4, and 0x14 when the snapshot lacks it, when the URI names pjl.
    // Each gives the reply's body (a status byte first) or why none.
    bool pjlStorage(unsigned short code) const;
    long pjlStorageOptions(kvsim::Bytes* body);
    long answerPjlStorage(const Outcome& o, unsigned short code, const uint8_t* data, unsigned long length,
                          void* reply, unsigned long* replyLength);
    long pjlVolume(uint8_t device, pjl::Volume* volume, kvsim::StorageStatus* status);
    long pjlListing(uint8_t device, kvsim::Bytes* body);
    long pjlDirectory(uint8_t device, kvsim::Bytes* body);
    long pjlFormat(uint8_t device, kvsim::Bytes* body);
    long pjlDelete(uint8_t device, const std::string& name, kvsim::Bytes* body);
    long pjlCopy(uint8_t source, uint8_t target, bool replace, const std::string& name, kvsim::Bytes* body);
    long pjlDirList(const pjl::Request& request, pjl::FsAnswer* answer);
    long pjlQuery(const std::string& path, pjl::FileEntry* entry, kvsim::StorageStatus* status);
    static long fsQueried(const std::string& reply, pjl::FileEntry* entry, kvsim::StorageStatus* status);
    // One line on standard error for each command that changes the printer's files.
    void logPjlChange(const std::string& what) const;
};

}  // namespace kvnet
