#include "web_config.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kvprtd {
namespace {

constexpr off_t kMaxFileBytes = 64 * 1024;

bool isBcrypt(std::string_view hash) {
    return hash.size() == 60 && (hash.starts_with("$2a$") || hash.starts_with("$2b$") || hash.starts_with("$2y$"));
}

std::string where(const std::string& path, const YAML::Node& node) {
    const YAML::Mark mark = node.Mark();
    return mark.is_null() ? path : path + ":" + std::to_string(mark.line + 1) + ":" + std::to_string(mark.column + 1);
}

// The keys of a mapping, each of `known`; false with a message otherwise.
bool onlyKnownKeys(const std::string& path, const YAML::Node& map, std::initializer_list<std::string_view> known,
                   std::string_view section, std::string* error) {
    if (!map.IsMap()) {
        *error = where(path, map) + ": " + std::string(section) + ": expected a mapping";
        return false;
    }
    for (const auto& entry : map) {
        const std::string key = entry.first.as<std::string>();
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            *error = where(path, entry.first) + ": " + (section.empty() ? "" : std::string(section) + ".") + key +
                     ": not a setting kvprtd applies";
            return false;
        }
    }
    return true;
}

std::string sha256(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

// "user:password" of a Basic Authorization value; nothing when malformed.
std::optional<std::pair<std::string, std::string>> credentials(std::string_view authorization) {
    constexpr std::string_view kBasic = "Basic ";
    if (authorization.size() <= kBasic.size() || authorization.size() > 1024) return std::nullopt;
    if (!std::equal(kBasic.begin(), kBasic.end(), authorization.begin(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        return std::nullopt;
    std::string_view encoded = authorization.substr(kBasic.size());
    if (encoded.size() % 4 != 0) return std::nullopt;
    std::string decoded(encoded.size() / 4 * 3, '\0');
    int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                 reinterpret_cast<const unsigned char*>(encoded.data()), static_cast<int>(encoded.size()));
    if (length < 0) return std::nullopt;
    size_t padding = encoded.ends_with("==") ? 2 : encoded.ends_with("=") ? 1 : 0;
    decoded.resize(static_cast<size_t>(length) - padding);
    size_t colon = decoded.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return std::pair{decoded.substr(0, colon), decoded.substr(colon + 1)};
}

}  // namespace

std::optional<WebConfig> WebConfig::load(const std::string& path, std::string* error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes) {
        *error = path + ": expected a readable regular file of at most 64 KiB";
        return std::nullopt;
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        *error = path + ": cannot be read";
        return std::nullopt;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    auto resolved = [&](const std::string& file) {
        return std::filesystem::path(file).is_absolute() ? file : (folder / file).string();
    };
    WebConfig config;
    try {
        YAML::Node root = YAML::Load(text.str());
        if (root.IsNull()) return config;
        if (!onlyKnownKeys(path, root, {"tls_server_config", "basic_auth_users"}, "", error)) return std::nullopt;
        if (YAML::Node tls = root["tls_server_config"]) {
            if (!onlyKnownKeys(path, tls, {"cert_file", "key_file"}, "tls_server_config", error)) return std::nullopt;
            if (!tls["cert_file"] || !tls["key_file"]) {
                *error = where(path, tls) + ": tls_server_config: needs both cert_file and key_file";
                return std::nullopt;
            }
            config.tls = TlsFiles{resolved(tls["cert_file"].as<std::string>()), resolved(tls["key_file"].as<std::string>())};
        }
        if (YAML::Node users = root["basic_auth_users"]) {
            if (!users.IsMap()) {
                *error = where(path, users) + ": basic_auth_users: expected a mapping of user names to bcrypt hashes";
                return std::nullopt;
            }
            for (const auto& entry : users) {
                const std::string name = entry.first.as<std::string>(), hash = entry.second.as<std::string>();
                if (name.empty() || name.find(':') != std::string::npos || !isBcrypt(hash)) {
                    *error = where(path, entry.first) + ": basic_auth_users: " + name +
                             ": expected a user name without ':' and a bcrypt hash ($2b$...)";
                    return std::nullopt;
                }
                config.users[name] = hash;
            }
        }
    } catch (const YAML::Exception& e) {
        *error = path + ":" + std::to_string(e.mark.line + 1) + ":" + std::to_string(e.mark.column + 1) + ": " + e.msg;
        return std::nullopt;
    }
    return config;
}

bool BasicAuth::allows(std::string_view authorization) {
    const std::string digest = sha256(authorization);
    {
        std::lock_guard guard(m_lock);
        if (m_passed.contains(digest)) return true;
    }
    auto given = credentials(authorization);
    if (!given) return false;
    auto user = m_users.find(given->first);
    // An unknown user costs a check all the same, so that timing tells no names.
    const std::string& hash = user != m_users.end() ? user->second : m_users.begin()->second;
    crypt_data scratch{};
    const char* computed = ::crypt_r(given->second.c_str(), hash.c_str(), &scratch);
    const bool match = user != m_users.end() && computed != nullptr && std::strlen(computed) == hash.size() &&
                       CRYPTO_memcmp(computed, hash.data(), hash.size()) == 0;
    if (!match) return false;
    std::lock_guard guard(m_lock);
    if (m_passed.size() >= kRemembered) m_passed.clear();
    m_passed.insert(digest);
    return true;
}

std::string bcryptHash(const std::string& password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (::crypt_gensalt_rn("$2b$", 10, nullptr, 0, setting, sizeof setting) == nullptr) return {};
    crypt_data scratch{};
    const char* hash = ::crypt_r(password.c_str(), setting, &scratch);
    return hash != nullptr && isBcrypt(hash) ? hash : std::string();
}

}  // namespace kvprtd
