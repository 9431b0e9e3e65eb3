// --web-config FILE: TLS and basic authentication, in the file format that
// Prometheus exporters share:
//
//   tls_server_config:
//     cert_file: kvprtd.crt        # PEM; relative paths are to the file's folder
//     key_file: kvprtd.key
//   basic_auth_users:
//     prometheus: $2b$10$...       # a bcrypt hash: htpasswd -nBC 10 "" | tr -d ':\n'
//
// Either part may be left out. Any other key is refused, so that a setting
// kvprtd would not apply is never silently ignored.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "http_server.h"

namespace kvprtd {

struct WebConfig {
    std::optional<TlsFiles> tls;
    std::map<std::string, std::string> users;   // name: bcrypt hash

    // Nothing, with a message naming the file and the place, when it cannot be used.
    static std::optional<WebConfig> load(const std::string& path, std::string* error);
};

// Checks the Authorization header of a request against the users' bcrypt
// hashes. A header once let in is remembered (as its SHA-256), so that a
// scraper's every request does not cost a bcrypt check; a wrong one is
// never remembered.
class BasicAuth {
public:
    explicit BasicAuth(std::map<std::string, std::string> users) : m_users(std::move(users)) {}
    bool required() const { return !m_users.empty(); }
    bool allows(std::string_view authorization);

private:
    static constexpr size_t kRemembered = 256;
    std::map<std::string, std::string> m_users;
    std::mutex m_lock;
    std::set<std::string> m_passed;
};

// A bcrypt hash of `password` (cost 10) for basic_auth_users; empty on failure.
std::string bcryptHash(const std::string& password);

}  // namespace kvprtd
