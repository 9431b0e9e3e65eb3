// SNMPv3 user-based security (USM) from the credentials: the protocols by
// name, the security level from the keys that are present, and the keys
// derived from their passphrases (RFC 3414 password-to-key). Derivation
// hashes a megabyte, so a client does it once and keeps the result.
//
//   auth-protocol   MD5, SHA (SHA-1), SHA-224, SHA-256, SHA-384, SHA-512; SHA when empty
//   priv-protocol   DES, AES (AES-128), AES-192, AES-256; AES when empty
//   level           noAuthNoPriv without auth-key, authNoPriv with it,
//                   authPriv with auth-key and priv-key
//
// AES-192 and AES-256 are the key-extended variants net-snmp's own tools
// call AES192 and AES256.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <string>

#include "options.h"

namespace kvnet::snmp {

struct UsmSecurity {
    std::string user, context;
    int level = SNMP_SEC_LEVEL_NOAUTH;
    const oid* authProtocol = nullptr;
    size_t authProtocolLength = 0;
    const oid* privProtocol = nullptr;
    size_t privProtocolLength = 0;
    u_char authKey[USM_AUTH_KU_LEN] = {};   // Ku: localised to the agent once its engine is known
    size_t authKeyLength = 0;
    u_char privKey[USM_PRIV_KU_LEN] = {};
    size_t privKeyLength = 0;
};

// The security of `credentials`. False with a message that names the
// setting (never a key) when a protocol is unknown or a key unusable
// (passphrases have at least 8 characters).
bool usmSecurity(const Credentials& credentials, UsmSecurity* security, std::string* error);

// Puts `security` into a session about to be opened (net-snmp copies it).
void applyUsm(const UsmSecurity& security, netsnmp_session* session);

}  // namespace kvnet::snmp
