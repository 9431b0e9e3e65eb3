#include "options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <toml++/toml.h>

namespace kvnet {
namespace {

constexpr std::string_view kScheme = "net://";
constexpr size_t kMaxHost = 253;
constexpr size_t kMaxValue = 255;
constexpr size_t kMaxCredentialsFile = 64 * 1024;
constexpr unsigned kMaxTimeoutMs = 60000;
constexpr unsigned kMaxPollSeconds = 86400;

bool fail(std::string* error, std::string message) {
    *error = std::move(message);
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX escapes decoded; false for a broken escape or a control character.
bool decode(std::string_view in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size()) return false;
            int hi = hexDigit(in[i + 1]), lo = hexDigit(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        *out += c;
    }
    return true;
}

bool number(std::string_view text, unsigned low, unsigned high, unsigned* value) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
    *value = v;
    return true;
}

bool hostCharacter(char c, bool bracketed) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_')
        return true;
    return bracketed && (c == ':' || c == '%');
}

bool parseHost(std::string_view authority, NetOptions* options, std::string* error) {
    if (authority.empty()) return fail(error, "no host after net://");
    if (authority.find('@') != std::string_view::npos)
        return fail(error, "a user or password before the host is not accepted: put secrets in the credentials file "
                           "and name its entry with auth=");
    bool bracketed = authority.front() == '[';
    std::string_view host = authority;
    if (bracketed) {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return fail(error, "an IPv6 address without its closing ]");
        host = authority.substr(1, close - 1);
        authority.remove_prefix(close + 1);
    } else {
        size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        authority.remove_prefix(colon == std::string_view::npos ? authority.size() : colon);
    }
    if (!authority.empty())
        return fail(error, "a port after the host is not accepted: use snmp-port=, ipp-port= or pjl-port=");
    if (host.empty() || host.size() > kMaxHost) return fail(error, "the host must have 1 to 253 characters");
    for (char c : host)
        if (!hostCharacter(c, bracketed)) return fail(error, "the host holds a character a host name cannot hold");
    options->host = host;
    return true;
}

struct Word {
    std::string_view name;
    unsigned bit;
};

// A comma list of `words` (protocols=, allow=): the or of their bits.
bool parseList(std::string_view value, std::initializer_list<Word> words, unsigned* bits) {
    unsigned set = 0;
    while (true) {
        const size_t comma = value.find(',');
        const std::string_view name = value.substr(0, comma);
        auto it = std::find_if(words.begin(), words.end(), [&](const Word& w) { return w.name == name; });
        if (it == words.end()) return false;
        set |= it->bit;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    *bits = set;
    return true;
}

bool parseVersion(std::string_view value, SnmpVersion* version) {
    if (value == "1") *version = SnmpVersion::V1;
    else if (value == "2c" || value == "2") *version = SnmpVersion::V2c;
    else if (value == "3") *version = SnmpVersion::V3;
    else return false;
    return true;
}

// One option. The values of community= and auth= never appear in a message.
bool applyOption(std::string_view key, const std::string& value, NetOptions* options, std::string* auth,
                 std::string* error) {
    auto malformed = [&](const char* expected, bool shown = true) {
        std::string message = "malformed value of " + std::string(key);
        if (shown) message += ": \"" + value + "\"";
        return fail(error, message + " (expected " + expected + ")");
    };
    unsigned n = 0;
    if (key == "protocols") {
        if (!parseList(value, {{"snmp", kSnmp}, {"ipp", kIpp}, {"pjl", kPjl}}, &options->protocols))
            return malformed("a list of snmp, ipp and pjl");
    } else if (key == "snmp-port") {
        if (!number(value, 1, 65535, &n)) return malformed("a port from 1 to 65535");
        options->snmpPort = static_cast<uint16_t>(n);
    } else if (key == "snmp-version") {
        if (!parseVersion(value, &options->snmpVersion)) return malformed("1, 2c or 3");
    } else if (key == "community") {
        if (value.empty()) return malformed("a community of 1 to 255 characters", false);
        options->community = value;
    } else if (key == "ipp-port") {
        if (!number(value, 1, 65535, &n)) return malformed("a port from 1 to 65535");
        options->ippPort = static_cast<uint16_t>(n);
    } else if (key == "ipp-path") {
        if (value.empty() || value.front() != '/' || value.find_first_of(" ?#") != std::string::npos)
            return malformed("a path that starts with / and holds no blank, ? or #");
        options->ippPath = value;
    } else if (key == "pjl-port") {
        if (!number(value, 1, 65535, &n)) return malformed("a port from 1 to 65535");
        options->pjlPort = static_cast<uint16_t>(n);
    } else if (key == "timeout") {
        if (!number(value, 1, kMaxTimeoutMs, &options->timeoutMs)) return malformed("milliseconds from 1 to 60000");
    } else if (key == "poll") {
        if (!number(value, 0, kMaxPollSeconds, &options->pollSeconds)) return malformed("seconds from 0 to 86400");
    } else if (key == "allow") {
        if (!parseList(value, {{"format", kAllowFormat}, {"reset", kAllowReset}}, &options->allowed))
            return malformed("a list of format and reset");
    } else if (key == "ustatus") {
        if (value != "device" && value != "off") return malformed("device or off");
        options->ustatus = value == "device";
    } else if (key == "auth") {
        if (value.empty()) return malformed("the name of an entry of the credentials file", false);
        *auth = value;
    } else {
        std::string shown(key.substr(0, 40));
        return fail(error, "unknown option \"" + shown + "\" (known: protocols, snmp-port, snmp-version, community, "
                           "ipp-port, ipp-path, pjl-port, ustatus, timeout, poll, allow, auth)");
    }
    return true;
}

}  // namespace

bool parseNetUri(std::string_view uri, NetOptions* options, std::string* error) {
    *options = NetOptions();
    if (uri.substr(0, kScheme.size()) != kScheme) return fail(error, "not a net:// URI");
    uri.remove_prefix(kScheme.size());
    size_t end = uri.find_first_of("/?#");
    if (!parseHost(uri.substr(0, end), options, error)) return false;
    if (end == std::string_view::npos) return true;
    std::string_view rest = uri.substr(end);
    if (rest.front() == '/') {
        if (rest.size() > 1 && rest[1] != '?') return fail(error, "a path after the host is not accepted: use ipp-path=");
        rest.remove_prefix(1);
    }
    if (rest.empty()) return true;
    if (rest.front() == '#') return fail(error, "a fragment (#) is not accepted");
    rest.remove_prefix(1);   // '?'
    std::string auth, seen = ",";
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view pair = rest.substr(0, amp);
        rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
        if (pair.empty()) continue;
        size_t eq = pair.find('=');
        std::string_view key = pair.substr(0, eq);
        if (eq == std::string_view::npos)
            return fail(error, "option \"" + std::string(key.substr(0, 40)) + "\" has no value (write " +
                                   std::string(key.substr(0, 40)) + "=VALUE)");
        std::string value;
        if (!decode(pair.substr(eq + 1), &value) || value.size() > kMaxValue)
            return fail(error, "malformed value of " + std::string(key.substr(0, 40)) +
                                   " (a broken %-escape, a control character, or longer than 255 bytes)");
        if (seen.find("," + std::string(key) + ",") != std::string::npos)
            return fail(error, "option " + std::string(key) + " is given twice");
        if (!applyOption(key, value, options, &auth, error)) return false;
        seen += std::string(key) + ",";
    }
    if (options->ustatus && !(options->protocols & kPjl))
        return fail(error, "ustatus=device needs pjl in protocols=: the status comes from the print port");
    if (!auth.empty()) return readCredentials(credentialsPath(), auth, options, error);
    if (options->snmpVersion == SnmpVersion::V3 && (options->protocols & kSnmp))
        return fail(error, "snmp-version=3 needs auth=NAME: the user and keys come from the credentials file");
    return true;
}

std::string credentialsPath() {
    if (const char* path = std::getenv("KVPRTOBJ_NET_CREDENTIALS"); path && *path) return path;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/kvprtobj/credentials.toml";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/.config/kvprtobj/credentials.toml";
}

namespace {

// The file's text: a regular file of bounded size that only its owner may read or write.
bool readPrivateFile(const std::string& path, std::string* text, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return fail(error, "the credentials file " + path + " cannot be read: " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(error, "the credentials file " + path + " is not a regular file");
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return fail(error, "the credentials file " + path + " may be read or written by others (mode " + mode +
                               "): make it 0600");
    }
    text->clear();
    char piece[4096];
    for (;;) {
        ssize_t n = ::read(fd, piece, sizeof piece);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(error, "the credentials file " + path + " cannot be read: " + std::strerror(errno));
        if (text->size() + static_cast<size_t>(n) > kMaxCredentialsFile)
            return fail(error, "the credentials file " + path + " is larger than 64 KiB");
        text->append(piece, static_cast<size_t>(n));
    }
}

}  // namespace

bool readCredentials(const std::string& path, const std::string& name, NetOptions* options, std::string* error) {
    std::string text;
    if (!readPrivateFile(path, &text, error)) return false;
    toml::table file;
    try {
        file = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        std::ostringstream where;
        where << e.source().begin;
        return fail(error, "the credentials file " + path + " is not valid TOML (" + std::string(e.description()) +
                               " at " + where.str() + ")");
    }
    const toml::table* entry = file[name].as_table();
    if (entry == nullptr) return fail(error, "the credentials file " + path + " has no entry [" + name + "]");
    Credentials& c = options->credentials;
    c.entry = name;
    struct Field {
        const char* key;
        std::string* target;
    };
    std::string version;
    const Field fields[] = {{"snmp-version", &version},        {"community", &options->community},
                            {"write-community", &c.writeCommunity}, {"user", &c.user},
                            {"auth-protocol", &c.authProtocol}, {"auth-key", &c.authKey},
                            {"priv-protocol", &c.privProtocol}, {"priv-key", &c.privKey},
                            {"context", &c.context},           {"ipp-user", &c.ippUser},
                            {"ipp-password", &c.ippPassword}};
    for (const auto& [key, node] : *entry) {
        const Field* field = nullptr;
        for (const Field& f : fields)
            if (key.str() == f.key) field = &f;
        std::string where = "entry [" + name + "] of " + path + ": ";
        if (field == nullptr) return fail(error, where + "unknown key \"" + std::string(key.str()) + "\"");
        const std::string* value = node.as_string() ? &node.as_string()->get() : nullptr;
        if (value == nullptr || value->size() > kMaxValue)
            return fail(error, where + std::string(key.str()) + " must be a string of at most 255 bytes");
        *field->target = *value;
    }
    std::string where = "entry [" + name + "] of " + path + ": ";
    if (!version.empty() && !parseVersion(version, &options->snmpVersion))
        return fail(error, where + "snmp-version must be \"1\", \"2c\" or \"3\"");
    if (options->snmpVersion == SnmpVersion::V3 && c.user.empty())
        return fail(error, where + "snmp-version 3 needs a user");
    if (!c.privKey.empty() && c.authKey.empty()) return fail(error, where + "a priv-key needs an auth-key");
    return true;
}

}  // namespace kvnet
