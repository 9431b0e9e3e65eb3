// Refreshing a net:// printer's snapshot, on the backend's loop: one quiet
// SNMP GET (tables walked again only where a counter moved) and the IPP
// printer attributes and jobs; a new snapshot is built only when something
// changed, and the differences are pushed as alerts.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "core.h"
#include "kvprtobj/bidicodes.h"
#include "snmp/fill.h"
#include "snmp/oids.h"
#include "text.h"

namespace kvnet {
namespace {

using snmp::operator+;

const snmp::Oid kConfigChangesColumn = snmp::oid::column(snmp::oid::prtGeneralEntry, snmp::oid::prtGeneralConfigChanges);
// A configuration change is an event, not a state: its record (category 5:
// "configuration changed", 6201) is listed for this long after the printer's
// change counter moved, so that polls see it.
constexpr auto kConfigChangeShown = std::chrono::hours(1);
constexpr uint8_t kConfigChangeCategory = 5;

// The printer type the backend reports (miscellaneous variable 00 A7): with
// PJL, the simulated printer's (the library's type 0, whose Quick Setup
// variables are the PJL map's: docs/quicksetup.md); else one of no family
// the library knows.
constexpr uint8_t kPrinterTypePjl = 2;
constexpr uint8_t kPrinterTypeOther = 1;

}  // namespace

void NetPrinter::Core::startRefresh() {
    if (closed) return;
    {
        std::lock_guard guard(lock);
        if (refreshing) return;
        refreshing = true;
    }
    running = Outcome();
    changed = !walked;
    outstanding = 1;   // held until every source has started
    if (wants(kSnmp)) refreshSnmp();
    else running.snmp = BCE_E_NOT_SUPPORTED;
    if (wants(kIpp)) refreshIpp();
    else running.ipp = BCE_E_NOT_SUPPORTED;
    if (wants(kPjl) && !wants(kSnmp) && !wants(kIpp)) refreshPjlIdentity();
    sourceDone();
}

void NetPrinter::Core::hint() {
    {
        std::lock_guard guard(lock);
        hinted = refreshing;
    }
    if (!hinted) startRefresh();
}

void NetPrinter::Core::sourceDone() {
    if (--outstanding == 0) finishRefresh();
}

void NetPrinter::Core::refreshSnmp() {
    if (!snmpClient) snmpClient = snmp::Client::create(options);
    ++outstanding;
    auto self = shared_from_this();
    snmpClient->get(snmp::quietPoll(view), [self](snmp::Result r) {
        self->running.snmp = r.rc;
        if (r.rc != BCE_OK) {
            self->running.failed(&self->running.snmp, "SNMP", r.rc, r.error);
            return self->sourceDone();
        }
        std::vector<snmp::Oid> roots = self->walked ? snmp::staleRoots(self->view, r.bindings) : snmp::walkRoots();
        for (const snmp::VarBind& b : r.bindings) {
            const snmp::Value* old = self->view.get(b.oid);
            if (old == nullptr || old->type != b.value.type || old->number != b.value.number ||
                old->bytes != b.value.bytes)
                self->changed = true;
        }
        self->view.merge(r.bindings);
        if (!roots.empty()) self->changed = true;
        self->walk(std::move(roots), 0);
    });
}

// Walks `roots` one after another, each replacing its subtree of the view.
void NetPrinter::Core::walk(std::vector<snmp::Oid> roots, size_t next) {
    if (next == roots.size()) {
        walked = true;
        return sourceDone();
    }
    auto self = shared_from_this();
    snmp::Oid root = roots[next];
    snmpClient->walk(root, snmp::WalkLimits(), [self, roots = std::move(roots), next, root](snmp::Result r) {
        if (r.rc == BCE_OK) {
            self->view.erase(root);
            self->view.merge(r.bindings);
        } else if (r.rc != BCE_E_INVALID) {
            // The agent stopped answering in the middle: the refresh failed.
            self->running.failed(&self->running.snmp, "SNMP", r.rc, r.error);
            return self->sourceDone();
        }
        self->walk(std::move(roots), next + 1);
    });
}

void NetPrinter::Core::refreshIpp() {
    if (!ippClient) ippClient = ipp::Client::create(options);
    ++outstanding;
    auto self = shared_from_this();
    ippClient->getPrinterAttributes(ipp::printerAttributes(), [self](ipp::Result r) {
        self->running.ipp = r.rc;
        if (r.rc != BCE_OK) {
            self->running.failed(&self->running.ipp, "IPP", r.rc, r.error);
            return self->sourceDone();
        }
        if (r.response.printer != self->ippState.printer) self->changed = true;
        self->ippState.printer = std::move(r.response.printer);
        self->ippClient->getJobs([self](ipp::Result jobs) {
            if (jobs.rc == BCE_OK) {
                if (jobs.response.jobs != self->ippState.jobs) self->changed = true;
                self->ippState.jobs = std::move(jobs.response.jobs);
            }
            self->sourceDone();
        });
    });
}

// With PJL alone, who the printer is comes from INFO ID, asked until it
// answers and then kept: the print port is used on demand only, and a
// printer's model does not change.
void NetPrinter::Core::refreshPjlIdentity() {
    if (pjlModel) {
        running.pjl = BCE_OK;
        return;
    }
    ++outstanding;
    pjl::Request request;
    request.info("ID");
    auto self = shared_from_this();
    printPort().exchange(request, 1, [self](PjlResult r) {
        std::string why = BceResultText(r.rc);
        std::optional<std::string> model = r.rc == BCE_OK ? pjl::parseId(r.replies[0], &why) : std::nullopt;
        if (model) {
            self->pjlModel = oneLine(*model);   // a printer's text: no control character reaches a host
            self->running.pjl = BCE_OK;
        } else {
            self->running.failed(&self->running.pjl, "PJL", r.rc == BCE_OK ? BCE_E_BAD_REPLY : r.rc, why);
        }
        self->sourceDone();
    });
}

// A new snapshot from what each protocol answered in this refresh.
std::shared_ptr<Snapshot> NetPrinter::Core::build() {
    auto next = std::make_shared<Snapshot>();
    kvsim::Profile& p = next->profile;
    baseIdentity(p);
    if (running.snmp == BCE_OK) {
        snmp::fill(view, options.host, next.get());
        noteConfigChange(*next);
    }
    if (running.ipp == BCE_OK) {
        ipp::fillPrinter(ippState.printer, next.get());
        ipp::fillJobs(ippState.jobs, jobNumbers, next.get());
    }
    if (running.pjl == BCE_OK && pjlModel)
        copyField(p.info.szModelName, sizeof p.info.szModelName, *pjlModel);
    applyPjlStatus(*next);
    addLocalState(*next);
    deriveConditions(p);
    return next;
}

// A moved configuration counter lists a configuration change (6201) for a while.
void NetPrinter::Core::noteConfigChange(Snapshot& s) {
    auto rows = view.indexes(kConfigChangesColumn);
    std::optional<int64_t> now = rows.empty() ? std::nullopt : view.number(kConfigChangesColumn + rows.front());
    if (now && configChanges && *now != *configChanges) configChangedAt = Clock::now();
    if (now) configChanges = now;
    if (configChangedAt && Clock::now() - *configChangedAt < kConfigChangeShown)
        s.addAlert(kvbidi::kConfigChg, kConfigChangeCategory, 0, 0);
}

// What every net:// printer is before any protocol tells more.
void NetPrinter::Core::baseIdentity(kvsim::Profile& p) const {
    p.name = options.host;
    std::snprintf(p.info.szPortName, sizeof p.info.szPortName, "IP_%s", options.host.c_str());
    p.info.usFlags = PRTINFO_BIDI_CAPABLE;
    p.info.ulAttachment = BCE_NET_IP | PRTINFO_HAS_IP;
    p.info.usNetTypeCode = 2;
    p.info.usNetSubCode = 1;
    p.names.push_back({BCE_NET_IP, options.host, options.host});
    copyField(p.netAddress.szHostName, sizeof p.netAddress.szHostName, options.host);
    copyField(p.netAddress.szAddress, sizeof p.netAddress.szAddress, options.host);
    p.netAddress.ulPort = wants(kPjl) ? options.pjlPort : wants(kIpp) ? options.ippPort : options.snmpPort;
    p.miscVariables.push_back({kvsim::kMiscPrinterType, {wants(kPjl) ? kPrinterTypePjl : kPrinterTypeOther}, true});
}

// The parts the backend keeps itself. Caller: the loop; reads `lock`-guarded state.
void NetPrinter::Core::addLocalState(Snapshot& s) {
    std::lock_guard guard(lock);
    kvsim::Profile& p = s.profile;
    auto life = std::find_if(p.pageCounts.begin(), p.pageCounts.end(),
                             [](const kvsim::PageCount& c) { return c.type == 1; });
    if (life != p.pageCounts.end()) {
        uint32_t base = hostPageBase.value_or(0);
        p.pageCounts.push_back({p.hostPageCountType, life->count >= base ? life->count - base : 0});
    }
    for (const kvsim::Variable& v : localVariables) p.variables.push_back(v);
    // Requests the backend answers itself once the printer answered at all;
    // with PJL alone the loop-back stays the printer's ECHO.
    const bool pjlAlone = running.pjl == BCE_OK;
    if (s.answered.empty() && !pjlAlone) return;
    for (uint16_t code : {kvbidi::kLoopBack, kvbidi::kReadOMVar, kvbidi::kReadMultiOMVars, kvbidi::kReadMiscVar})
        if (code != kvbidi::kLoopBack || !pjlAlone) s.answer(code);
}

// Device status byte 1: operator intervention, paper jam, warning, service.
void NetPrinter::Core::deriveConditions(kvsim::Profile& p) {
    auto has = [&](uint16_t run) {
        auto it = p.alertRuns.find(run);
        return it != p.alertRuns.end() && !it->second.empty();
    };
    uint8_t flags = 0;
    if (has(kvbidi::kOperatorIV)) flags |= 0x01;
    if (has(kvbidi::kPaperJams)) flags |= 0x02;
    if (has(kvbidi::kWarnings)) flags |= 0x04;
    if (has(kvbidi::kServiceReq)) flags |= 0x08;
    p.deviceStatus[1] |= flags;
}

void NetPrinter::Core::finishRefresh() {
    std::shared_ptr<const Snapshot> before;
    {
        std::lock_guard guard(lock);
        before = snapshot;
        changed = changed || localChanged;
        localChanged = false;
    }
    bool sameSources =
        before && running.snmp == outcome.snmp && running.ipp == outcome.ipp && running.pjl == outcome.pjl;
    std::shared_ptr<const Snapshot> next = before;
    std::vector<PushedAlert> pushed;
    if (!sameSources || changed) {
        auto built = build();
        if (before && (running.any() || pjlStatus)) pushed = changes(*before, *built);
        next = std::move(built);
    }
    std::vector<Pending> waiting;
    {
        std::lock_guard guard(lock);
        snapshot = next;
        snapshotTime = Clock::now();
        outcome = running;
        ++generation;
        refreshing = false;
        waiting.swap(pending);
    }
    refreshed.notify_all();
    raise(pushed);
    for (Pending& p : waiting) completePending(p);
    schedulePoll();
    if (std::exchange(hinted, false)) startRefresh();
}

void NetPrinter::Core::schedulePoll() {
    if (closed || options.pollSeconds == 0) return;
    pollTimer.expires_after(std::chrono::seconds(options.pollSeconds));
    std::weak_ptr<Core> weak = shared_from_this();
    pollTimer.async_wait([weak](const std::error_code& ec) {
        if (ec) return;
        if (auto self = weak.lock()) self->startRefresh();
    });
}

void NetPrinter::Core::close() {
    closed = true;
    pollTimer.cancel();
    if (snmpClient) snmpClient->close();
    if (ippClient) ippClient->close();
    if (pjlPort) pjlPort->close();
}

void NetPrinter::Core::raise(const std::vector<PushedAlert>& pushed) {
    if (pushed.empty()) return;
    std::vector<std::pair<unsigned short, uint16_t>> held;
    {
        std::lock_guard guard(lock);
        for (const PushedAlert& a : pushed) held.emplace_back(alerts.hold(a.family, a.data, true), a.family);
    }
    std::lock_guard guard(ownerLock);
    if (owner == nullptr) return;
    for (auto [id, family] : held) BceNotifyAlert(owner, id, family);
}
}  // namespace kvnet
