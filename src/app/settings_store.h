// The program's settings: named values below HKEY_CURRENT_USER\software\<registry key>\<profile
// name>\<section>. Every call opens the keys it needs (creating what is missing, also on a read)
// and closes them before it returns; nothing is kept between calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace vantrel {

// A stored string longer than this is treated as missing rather than read into memory.
constexpr std::uint32_t kMaxSettingStringBytes = 32 * 1024;

class SettingsStore {
public:
    SettingsStore(RegistryPort& registry, std::string applicationName);

    // Selects the registry key; the profile name becomes a copy of the application name. Until
    // then every read gives its default and every write fails.
    void SetSettingsKey(const std::string& registryKey);

    std::string ReadSettingString(const std::string& section, const std::string& key,
                                  const std::string& defaultText);
    std::int32_t ReadSettingInt(const std::string& section, const std::string& key,
                                std::int32_t defaultValue);
    // Stored as REG_SZ with its terminating zero.
    bool WriteSettingString(const std::string& section, const std::string& key,
                            const std::string& text);
    // Stored as REG_DWORD.
    bool WriteSettingInt(const std::string& section, const std::string& key, std::int32_t value);

private:
    RegistryKey CreateSubkey(const RegistryKey& parent, const std::string& name);
    RegistryKey OpenSectionKey(const std::string& section);

    RegistryPort& m_registry;
    std::string m_applicationName;
    std::string m_registryKey;
    std::string m_profileName;
};

}  // namespace vantrel
