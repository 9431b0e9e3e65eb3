#include "usm.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <string_view>

namespace kvnet::snmp {
namespace {

struct Protocol {
    std::string_view name;
    const oid* id;
    size_t length;
};

// The names are compared without case.
const Protocol kAuthProtocols[] = {
    {"MD5", usmHMACMD5AuthProtocol, OID_LENGTH(usmHMACMD5AuthProtocol)},
    {"SHA", usmHMACSHA1AuthProtocol, OID_LENGTH(usmHMACSHA1AuthProtocol)},
    {"SHA-1", usmHMACSHA1AuthProtocol, OID_LENGTH(usmHMACSHA1AuthProtocol)},
    {"SHA-224", usmHMAC128SHA224AuthProtocol, OID_LENGTH(usmHMAC128SHA224AuthProtocol)},
    {"SHA-256", usmHMAC192SHA256AuthProtocol, OID_LENGTH(usmHMAC192SHA256AuthProtocol)},
    {"SHA-384", usmHMAC256SHA384AuthProtocol, OID_LENGTH(usmHMAC256SHA384AuthProtocol)},
    {"SHA-512", usmHMAC384SHA512AuthProtocol, OID_LENGTH(usmHMAC384SHA512AuthProtocol)},
};
const Protocol kPrivProtocols[] = {
    {"DES", usmDESPrivProtocol, OID_LENGTH(usmDESPrivProtocol)},
    {"AES", usmAESPrivProtocol, OID_LENGTH(usmAESPrivProtocol)},
    {"AES-128", usmAESPrivProtocol, OID_LENGTH(usmAESPrivProtocol)},
    {"AES-192", usmAES192PrivProtocol, OID_LENGTH(usmAES192PrivProtocol)},
    {"AES-256", usmAES256PrivProtocol, OID_LENGTH(usmAES256PrivProtocol)},
};
constexpr std::string_view kDefaultAuth = "SHA";
constexpr std::string_view kDefaultPriv = "AES";

const Protocol* findProtocol(std::span<const Protocol> table, std::string_view name) {
    auto same = [&](const Protocol& p) {
        return std::equal(p.name.begin(), p.name.end(), name.begin(), name.end(),
                          [](char a, char b) { return a == std::toupper(static_cast<unsigned char>(b)); });
    };
    auto it = std::find_if(table.begin(), table.end(), same);
    return it == table.end() ? nullptr : &*it;
}

// Ku from a passphrase, hashed with the authentication protocol as RFC 3414 says for both keys.
bool deriveKey(const Protocol& hash, const std::string& passphrase, u_char* key, size_t capacity, size_t* length) {
    *length = capacity;
    return generate_Ku(hash.id, static_cast<u_int>(hash.length), reinterpret_cast<const u_char*>(passphrase.data()),
                       passphrase.size(), key, length) == SNMPERR_SUCCESS;
}

bool fail(std::string* error, std::string text) {
    *error = std::move(text);
    return false;
}

}  // namespace

bool usmSecurity(const Credentials& credentials, UsmSecurity* security, std::string* error) {
    const Credentials& c = credentials;
    security->user = c.user;
    security->context = c.context;
    if (c.user.empty()) return fail(error, "SNMPv3 needs a user");
    if (c.authKey.empty()) {
        if (!c.privKey.empty()) return fail(error, "a priv-key needs an auth-key");
        security->level = SNMP_SEC_LEVEL_NOAUTH;
        return true;
    }
    const Protocol* auth = findProtocol(kAuthProtocols, c.authProtocol.empty() ? kDefaultAuth : c.authProtocol);
    if (auth == nullptr) return fail(error, "unknown auth-protocol (MD5, SHA, SHA-224, SHA-256, SHA-384, SHA-512)");
    security->authProtocol = auth->id;
    security->authProtocolLength = auth->length;
    if (c.authKey.size() < USM_LENGTH_P_MIN || !deriveKey(*auth, c.authKey, security->authKey, sizeof security->authKey,
                                                          &security->authKeyLength))
        return fail(error, "the auth-key cannot be used (at least 8 characters)");
    security->level = SNMP_SEC_LEVEL_AUTHNOPRIV;
    if (c.privKey.empty()) return true;
    const Protocol* priv = findProtocol(kPrivProtocols, c.privProtocol.empty() ? kDefaultPriv : c.privProtocol);
    if (priv == nullptr) return fail(error, "unknown priv-protocol (DES, AES, AES-192, AES-256)");
    security->privProtocol = priv->id;
    security->privProtocolLength = priv->length;
    if (c.privKey.size() < USM_LENGTH_P_MIN || !deriveKey(*auth, c.privKey, security->privKey, sizeof security->privKey,
                                                          &security->privKeyLength))
        return fail(error, "the priv-key cannot be used (at least 8 characters)");
    security->level = SNMP_SEC_LEVEL_AUTHPRIV;
    return true;
}

void applyUsm(const UsmSecurity& security, netsnmp_session* session) {
    session->securityModel = SNMP_SEC_MODEL_USM;
    session->securityName = const_cast<char*>(security.user.c_str());
    session->securityNameLen = security.user.size();
    session->contextName = const_cast<char*>(security.context.c_str());
    session->contextNameLen = security.context.size();
    session->securityLevel = security.level;
    if (security.level != SNMP_SEC_LEVEL_NOAUTH) {
        session->securityAuthProto = const_cast<oid*>(security.authProtocol);
        session->securityAuthProtoLen = security.authProtocolLength;
        std::copy_n(security.authKey, security.authKeyLength, session->securityAuthKey);
        session->securityAuthKeyLen = security.authKeyLength;
    }
    if (security.level == SNMP_SEC_LEVEL_AUTHPRIV) {
        session->securityPrivProto = const_cast<oid*>(security.privProtocol);
        session->securityPrivProtoLen = security.privProtocolLength;
        std::copy_n(security.privKey, security.privKeyLength, session->securityPrivKey);
        session->securityPrivKeyLen = security.privKeyLength;
    }
}

}  // namespace kvnet::snmp
