// Environment overrides for tests that undo themselves: a variable, and the
// settings file (KVPRTOBJ_SETTINGS) pointed at a file with given content.
#pragma once

#include <cstdlib>
#include <string>

#include "qsf_image.h"
#include "temp_dir.h"

namespace kvtest {

// Sets an environment variable for the lifetime of the object.
class EnvOverride {
public:
    EnvOverride(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (m_had) ::setenv(m_name, m_old.c_str(), 1);
        else ::unsetenv(m_name);
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

// The settings store pointed at a file holding `content` for the lifetime of the object.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& content)
        : m_path((writeFile(m_dir.file("settings.ini"), Bytes().text(content)), m_dir.file("settings.ini"))),
          m_env("KVPRTOBJ_SETTINGS", m_path) {}
    const std::string& path() const { return m_path; }

private:
    TempDir m_dir;
    std::string m_path;
    EnvOverride m_env;
};

}  // namespace kvtest
