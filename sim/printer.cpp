// SimPrinter: the engine printer around the machine, the held alerts and
// their announcement.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "alert_data.h"
#include "alert_store.h"
#include "engine/c_boundary.h"
#include "kvprtobj/kvprtsim.h"
#include "machine.h"
#include "profile_writer.h"

namespace kvsim {

bool readProfileFile(const std::string& path, std::string* text, std::string* error) {
    struct File {
        int fd;
        ~File() {
            if (fd >= 0) ::close(fd);
        }
    } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};   // a FIFO is refused below, not waited on
    struct stat st{};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        *error = std::string("cannot read the profile: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        return false;
    }
    // In pieces, up to the limit: a file that grows meanwhile is caught too.
    const std::string tooLarge =
        "larger than " + std::to_string(kMaxProfileSize >> 20) + " MiB, the most a profile may be";
    if (static_cast<size_t>(st.st_size) > kMaxProfileSize) {
        *error = tooLarge;
        return false;
    }
    text->clear();
    char piece[65536];
    for (;;) {
        ssize_t n = ::read(file.fd, piece, sizeof piece);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = std::string("cannot read the profile: ") + std::strerror(errno);
            return false;
        }
        if (text->size() + static_cast<size_t>(n) > kMaxProfileSize) {
            *error = tooLarge;
            return false;
        }
        text->append(piece, static_cast<size_t>(n));
    }
}

struct SimPrinter::Impl {
    Impl(std::unique_ptr<Profile> p, std::string o) : profile(std::move(p)), origin(std::move(o)), machine(*profile) {}

    std::unique_ptr<Profile> profile;
    std::string origin;
    mutable std::mutex lock;   // guards the machine and the alerts
    Machine machine;
    AlertStore alerts;

    // Under the lock: holds the alerts the machine raised; their ids and
    // families, to announce once the lock is released.
    std::vector<std::pair<unsigned short, unsigned long>> holdRaised() {
        std::vector<std::pair<unsigned short, unsigned long>> raised;
        for (RaisedAlert& a : machine.takeRaised()) {
            uint16_t family = a.family;
            raised.emplace_back(alerts.hold(family, std::move(a.data), true), family);
        }
        return raised;
    }

    std::mutex listenerLock;
    std::map<int, AlertListener> listeners;
    int nextToken = 1;
};

SimPrinter::SimPrinter(std::unique_ptr<Profile> profile, std::string origin)
    : m(std::make_unique<Impl>(std::move(profile), std::move(origin))) {
    for (const ProfileAlert& a : m->profile->alerts) m->alerts.hold(a.family, a.data, false);
}

SimPrinter::~SimPrinter() = default;

std::shared_ptr<SimPrinter> SimPrinter::fromJson(std::string_view json, std::string* error, std::string_view overlay) {
    auto profile = std::make_unique<Profile>();
    std::string message;
    if (!loadProfile(json, profile.get(), &message, overlay)) {
        if (error) *error = message;
        return nullptr;
    }
    return std::shared_ptr<SimPrinter>(new SimPrinter(std::move(profile)));
}

std::shared_ptr<SimPrinter> SimPrinter::fromFile(const std::string& path, std::string* error, std::string_view overlay) {
    std::string text, message;
    auto profile = std::make_unique<Profile>();
    if (readProfileFile(path, &text, &message) && loadProfile(text, profile.get(), &message, overlay))
        return std::shared_ptr<SimPrinter>(new SimPrinter(std::move(profile), "sim:" + path));
    if (error) *error = path + ": " + message;
    return nullptr;
}

std::shared_ptr<SimPrinter> SimPrinter::fromDefault() {
    std::string error;
    auto printer = fromJson(defaultProfileJson(), &error);
    if (!printer) std::fprintf(stderr, "kvprtsim: the built-in profile is refused: %s\n", error.c_str());
    return printer;
}

std::string SimPrinter::name() const { return m->profile->name; }

void SimPrinter::announce(const std::vector<std::pair<unsigned short, unsigned long>>& alerts) {
    if (alerts.empty()) return;
    std::vector<AlertListener> listeners;
    {
        std::lock_guard guard(m->listenerLock);
        for (auto& [token, listener] : m->listeners) listeners.push_back(listener);
    }
    for (auto [id, family] : alerts) {
        BceNotifyAlert(this, id, family);
        for (auto& listener : listeners) listener(id, family);
    }
}

long SimPrinter::sendBidi(short, unsigned int, unsigned short requestCode, void* reply, unsigned long* replyLength,
                          const void* requestData, unsigned long requestLength) {
    if (replyLength == nullptr || (requestLength && requestData == nullptr)) return BCE_E_INVALID;
    Request request{requestCode, static_cast<const uint8_t*>(requestData), requestLength};
    Reply answer;
    std::vector<std::pair<unsigned short, unsigned long>> raised;
    {
        std::lock_guard guard(m->lock);
        answer = m->machine.handle(request);
        raised = m->holdRaised();
    }
    announce(raised);
    return deliverReply(requestCode, answer, reply, replyLength);
}

long SimPrinter::queryAlerts(short, unsigned short alertId, int, void* buffer, unsigned long* length) {
    if (length == nullptr) return BCE_E_INVALID;
    std::lock_guard guard(m->lock);
    return m->alerts.read(alertId, buffer, length);
}

long SimPrinter::getPrtInfo(PRTINFO* info, int) {
    if (info == nullptr) return BCE_E_INVALID;
    *info = m->profile->info;
    return BCE_OK;
}

long SimPrinter::snapshotProfile(std::string* json) {
    if (json == nullptr) return BCE_E_INVALID;
    Profile state;
    {
        std::lock_guard guard(m->lock);
        state = m->machine.state();
    }
    std::string source = "the simulated printer " + state.name;
    if (!m->origin.empty()) source += " (" + m->origin + ")";
    *json = profileToJson(state, source);
    return BCE_OK;
}

// Level 2 only: the one level whose record NETADDRESS_LEVEL2 holds.
long SimPrinter::getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) {
    if (address == nullptr || level != 2) return BCE_E_INVALID;
    *address = m->profile->netAddress;
    address->ulNetType = netType;
    return BCE_OK;
}

long SimPrinter::getPrinterName(unsigned int netType, char* name, char* address) {
    if (name == nullptr || address == nullptr) return BCE_E_INVALID;
    for (const NameEntry& e : m->profile->names) {
        if (e.netType != netType) continue;
        std::snprintf(name, 80, "%s", e.name.c_str());
        std::snprintf(address, 80, "%s", e.address.c_str());
        return BCE_OK;
    }
    return BCE_E_INVALID;
}

int SimPrinter::addAlertListener(AlertListener listener) {
    std::lock_guard guard(m->listenerLock);
    int token = m->nextToken++;
    m->listeners[token] = std::move(listener);
    return token;
}

void SimPrinter::removeAlertListener(int token) {
    std::lock_guard guard(m->listenerLock);
    m->listeners.erase(token);
}

unsigned short SimPrinter::raiseAlert(unsigned long family, std::vector<uint8_t> data) {
    unsigned short id;
    {
        std::lock_guard guard(m->lock);
        id = m->alerts.hold(static_cast<uint16_t>(family), std::move(data), true);
    }
    announce({{id, family}});
    return id;
}

unsigned short SimPrinter::raiseProfileAlert(size_t index) {
    if (index >= m->profile->alerts.size()) return 0;
    const ProfileAlert& a = m->profile->alerts[index];
    return raiseAlert(a.family, a.data);
}

unsigned short SimPrinter::raiseProfileAlert(std::string_view name) {
    for (size_t i = 0; i < m->profile->alerts.size(); ++i)
        if (m->profile->alerts[i].name == name) return raiseProfileAlert(i);
    return 0;
}

size_t SimPrinter::profileAlertCount() const { return m->profile->alerts.size(); }

unsigned short SimPrinter::setDeviceStatus(uint8_t byte0, uint8_t byte1, uint8_t byte2) {
    std::array<uint8_t, 3> status{byte0, byte1, byte2};
    {
        std::lock_guard guard(m->lock);
        m->machine.setDeviceStatus(status);
    }
    return raiseAlert(kFamilyDeviceStatus, deviceStatusAlert(status));
}

std::optional<std::vector<uint8_t>> SimPrinter::variable(uint16_t id) const {
    std::lock_guard guard(m->lock);
    const Bytes* value = findVariable(m->machine.state(), id);
    if (value == nullptr) return std::nullopt;
    return *value;
}

std::string SimPrinter::pjlStatusMessage() const {
    std::lock_guard guard(m->lock);
    return kvnet::pjl::deviceStatusMessage(m->machine.pjlStatus());
}

std::string SimPrinter::answerPjl(std::string_view line, std::string_view data, PjlJob& job) {
    auto command = kvnet::pjl::parseCommand(line);
    if (!command) return {};
    std::string answer;
    std::vector<std::pair<unsigned short, unsigned long>> raised;
    {
        std::lock_guard guard(m->lock);
        answer = m->machine.answerPjl(*command, data, job);
        raised = m->holdRaised();
    }
    announce(raised);
    return answer;
}

}  // namespace kvsim

BcePrinter* kvprtsim_create(const char* profilePath, char* message, unsigned long messageSize) {
    // What a throw leaves as the message; a refusal replaces it.
    if (message && messageSize) std::snprintf(message, messageSize, "no memory to load the profile");
    return kvpo::cBoundary(nullptr, [&]() -> BcePrinter* {
        std::string error;
        auto profile = std::make_unique<kvsim::Profile>();
        bool loaded;
        if (profilePath == nullptr) {
            loaded = kvsim::loadProfile(kvsim::SimPrinter::defaultProfileJson(), profile.get(), &error);
        } else {
            std::string text;
            loaded = kvsim::readProfileFile(profilePath, &text, &error) &&
                     kvsim::loadProfile(text, profile.get(), &error);
            if (!loaded) error = std::string(profilePath) + ": " + error;
        }
        if (!loaded) {
            if (message && messageSize) std::snprintf(message, messageSize, "%s", error.c_str());
            return nullptr;
        }
        return new kvsim::SimPrinter(std::move(profile), std::string("sim:") + (profilePath ? profilePath : ""));
    });
}

const char* kvprtsim_default_profile() { return kvsim::SimPrinter::defaultProfileJson().data(); }
