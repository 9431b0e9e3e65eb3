#include "kvprtobj/fw_settings.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool equalsNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string programName() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "kvprtobj";
    path[n] = '\0';
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

std::string AfxSettingsPath() {
    if (const char* env = std::getenv("KVPRTOBJ_SETTINGS"); env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/" + programName() + "/settings.ini";
}

bool AfxGetProfileString(const char* section, const char* key, std::string* value) {
    std::ifstream in(AfxSettingsPath());
    if (!in) return false;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[') {
            size_t close = t.find(']');
            inSection = close != std::string::npos && equalsNoCase(trim(t.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (equalsNoCase(trim(t.substr(0, eq)), key)) {
            *value = trim(t.substr(eq + 1));
            return true;
        }
    }
    return false;
}

bool AfxGetProfileDword(const char* section, const char* key, unsigned long* value) {
    std::string text;
    if (!AfxGetProfileString(section, key, &text) || text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v > 0xFFFFFFFFull) return false;
    *value = static_cast<unsigned long>(v);
    return true;
}

DWORD WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) {
    if (localName == nullptr || length == nullptr) return ERROR_NOT_CONNECTED;
    std::string key(localName);
    if (!key.empty() && key.back() == ':') key.pop_back();
    std::string remote;
    if (!AfxGetProfileString("CapturedPorts", key.c_str(), &remote) || remote.empty()) return ERROR_NOT_CONNECTED;
    if (remoteName == nullptr || remote.size() + 1 > *length) {
        *length = static_cast<DWORD>(remote.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(remoteName, remote.c_str(), remote.size() + 1);
    return NO_ERROR;
}
