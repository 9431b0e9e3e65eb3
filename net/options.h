// The options of a net:// URI and the credentials an auth= option names.
//
//   net://HOST[?OPTION=VALUE&...]      HOST: a name, an IPv4 address or [IPv6]
//
//   protocols=snmp,ipp   the protocols asked (default snmp,ipp; pjl only when named)
//   snmp-port=161        the agent's UDP port
//   snmp-version=2c      1, 2c or 3 (3 needs auth=)
//   community=public     the read community of versions 1 and 2c
//   ipp-port=631         the IPP port (plain HTTP)
//   ipp-path=/ipp/print  the IPP resource
//   pjl-port=9100        the print port PJL is asked on (on demand: short
//                        connections unless ustatus=device)
//   ustatus=device       holds a connection to the print port open for the
//                        status the printer sends unasked (USTATUS DEVICE);
//                        needs pjl in protocols= (default off: short
//                        connections only, pjl_port.h)
//   timeout=5000         milliseconds for each exchange (1 to 60000)
//   poll=30              seconds between the backend's own polls of a printer
//                        nobody asks (0: only when asked)
//   allow=format,reset   a list: format lets request 0xA1 format a storage
//                        volume over PJL (FSINIT), reset lets request 0x6D
//                        reset the settings (INITIALIZE); without them both
//                        are refused
//   auth=NAME            the entry NAME of the credentials file: SNMPv3 user
//                        and keys, write community, IPP user and password
//
// Secrets never go in the URI: community= is the read-only community most
// printers answer, and everything else comes from the credentials file.
// The credentials file is TOML, one table per entry; its path is the
// environment variable KVPRTOBJ_NET_CREDENTIALS, else
// $XDG_CONFIG_HOME/kvprtobj/credentials.toml (~/.config when unset). It must
// be a regular file of at most 64 KiB that no one but its owner may read or
// write (mode 0600 or stricter).
//
//   [office]
//   snmp-version = "3"          # overrides the URI's
//   community = "..."           # read community (versions 1 and 2c)
//   write-community = "..."     # for the panel lock (versions 1 and 2c)
//   user = "admin"              # version 3
//   auth-protocol = "SHA"       # MD5, SHA, SHA-224, SHA-256, SHA-384, SHA-512
//   auth-key = "..."
//   priv-protocol = "AES"       # DES, AES (AES-128), AES-192, AES-256; none without a priv-key
//   priv-key = "..."
//   context = ""                # version 3 context name
//   ipp-user = "operator"       # HTTP basic authentication for IPP
//   ipp-password = "..."
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvnet {

enum Protocol : unsigned { kSnmp = 1u << 0, kIpp = 1u << 1, kPjl = 1u << 2 };
// What allow= lets the backend do that cannot be undone.
enum Allowed : unsigned { kAllowFormat = 1u << 0, kAllowReset = 1u << 1 };

enum class SnmpVersion { V1, V2c, V3 };

struct Credentials {
    std::string entry;   // the name auth= gave; empty when none
    std::string writeCommunity;
    std::string user, authProtocol, authKey, privProtocol, privKey, context;
    std::string ippUser, ippPassword;
};

struct NetOptions {
    std::string host;   // without brackets
    unsigned protocols = kSnmp | kIpp;
    uint16_t snmpPort = 161;
    SnmpVersion snmpVersion = SnmpVersion::V2c;
    std::string community = "public";
    uint16_t ippPort = 631;
    std::string ippPath = "/ipp/print";
    uint16_t pjlPort = 9100;
    unsigned timeoutMs = 5000;
    unsigned pollSeconds = 30;
    unsigned allowed = 0;   // Allowed bits of allow=
    bool ustatus = false;   // ustatus=device
    Credentials credentials;
};

// Parses a net:// URI and reads the credentials of its auth= entry. False
// with a message that names the option (never a secret's value) otherwise.
bool parseNetUri(std::string_view uri, NetOptions* options, std::string* error);

// The credentials file's path: KVPRTOBJ_NET_CREDENTIALS, else the XDG folder.
std::string credentialsPath();
// Reads entry `name` of the credentials file at `path` into `options`
// (its snmp-version and community replace the URI's). False with a message.
bool readCredentials(const std::string& path, const std::string& name, NetOptions* options, std::string* error);

}  // namespace kvnet
