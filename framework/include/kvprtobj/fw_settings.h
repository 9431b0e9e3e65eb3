// The application's settings store: an INI file of the running application.
//
// Path: $KVPRTOBJ_SETTINGS when set; otherwise
//       ${XDG_CONFIG_HOME:-$HOME/.config}/<program name>/settings.ini
// where <program name> is the file name of the running executable.
//
// Layout: "[Section]" lines, "Key=Value" lines, ';' or '#' comment lines.
// Section and key names compare ignoring case; values are trimmed.
//
//   [Settings]
//   InstallType=1
//   [CapturedPorts]
//   LPT1=\\server\queue
#pragma once

#include <string>

#include "kvprtobj/fw_base.h"

// The settings file in effect for this process.
KVPO_API std::string AfxSettingsPath();

// Reads a text value; false when the file, the section or the key is missing.
KVPO_API bool AfxGetProfileString(const char* section, const char* key, std::string* value);

// Reads a value as an unsigned 32-bit number (decimal or 0x hexadecimal);
// false when missing or not a number.
KVPO_API bool AfxGetProfileDword(const char* section, const char* key, unsigned long* value);

// Captured printer ports. Returns 0 and the remote name connected to the local
// device `localName` ("LPT1:" .. "LPT9:") from section [CapturedPorts] (key
// without the colon); 2250 when the device is not connected; 234 when the
// remote name does not fit `*length` bytes (then *length is the size needed).
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOT_CONNECTED = 2250;
KVPO_API DWORD WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length);
