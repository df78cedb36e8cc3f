#include "settings_store.h"

#include <cstring>
#include <utility>
#include <vector>

namespace vantrel {

SettingsStore::SettingsStore(RegistryPort& registry, std::string applicationName)
    : m_registry(registry), m_applicationName(std::move(applicationName)) {}

void SettingsStore::SetSettingsKey(const std::string& registryKey) {
    m_registryKey = registryKey;
    m_profileName = m_applicationName;
}

RegistryKey SettingsStore::CreateSubkey(const RegistryKey& parent, const std::string& name) {
    if (!parent)
        return {};
    RegistryHandle handle = 0;
    if (m_registry.createKey(parent.handle(), name, kKeyReadWrite, handle) != kErrorSuccess) {
        return {};
    }
    return RegistryKey(m_registry, handle);
}

RegistryKey SettingsStore::OpenSectionKey(const std::string& section) {
    if (m_registryKey.empty())
        return {};
    RegistryKey application;
    {
        RegistryHandle handle = 0;
        RegistryKey software;
        if (m_registry.openKey(kHkeyCurrentUser, "software", kKeyReadWrite, handle) ==
            kErrorSuccess) {
            software = RegistryKey(m_registry, handle);
        }
        RegistryKey company = CreateSubkey(software, m_registryKey);
        application = CreateSubkey(company, m_profileName);
        // "software" and the registry key close here, whatever happened.
    }
    return CreateSubkey(application, section);
}

std::string SettingsStore::ReadSettingString(const std::string& section, const std::string& key,
                                             const std::string& defaultText) {
    RegistryKey sectionKey = OpenSectionKey(section);
    if (!sectionKey)
        return defaultText;
    std::uint32_t size = 0;
    if (m_registry.queryValue(sectionKey.handle(), key, nullptr, nullptr, size) != kErrorSuccess ||
        size > kMaxSettingStringBytes) {
        return defaultText;
    }
    // One byte more than the value, so that data without its own zero still ends in one.
    std::vector<char> buffer(size + 1, '\0');
    if (m_registry.queryValue(sectionKey.handle(), key, nullptr,
                              reinterpret_cast<std::uint8_t*>(buffer.data()),
                              size) != kErrorSuccess) {
        return defaultText;
    }
    return std::string(buffer.data());
}

std::int32_t SettingsStore::ReadSettingInt(const std::string& section, const std::string& key,
                                           std::int32_t defaultValue) {
    RegistryKey sectionKey = OpenSectionKey(section);
    if (!sectionKey)
        return defaultValue;
    std::uint8_t data[4] = {};
    std::uint32_t size = sizeof data;
    // Data longer than 4 bytes fails the query; shorter data is no number either, so both read
    // as missing.
    if (m_registry.queryValue(sectionKey.handle(), key, nullptr, data, size) != kErrorSuccess ||
        size != sizeof data) {
        return defaultValue;
    }
    const std::uint32_t bits =
        static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
        static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    return static_cast<std::int32_t>(bits);
}

bool SettingsStore::WriteSettingString(const std::string& section, const std::string& key,
                                       const std::string& text) {
    RegistryKey sectionKey = OpenSectionKey(section);
    if (!sectionKey)
        return false;
    const std::uint32_t size = static_cast<std::uint32_t>(std::strlen(text.c_str()) + 1);
    return m_registry.setValue(sectionKey.handle(), key, kRegSz,
                               reinterpret_cast<const std::uint8_t*>(text.c_str()),
                               size) == kErrorSuccess;
}

bool SettingsStore::WriteSettingInt(const std::string& section, const std::string& key,
                                    std::int32_t value) {
    RegistryKey sectionKey = OpenSectionKey(section);
    if (!sectionKey)
        return false;
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    const std::uint8_t data[4] = {
        static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
        static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    return m_registry.setValue(sectionKey.handle(), key, kRegDword, data, sizeof data) ==
           kErrorSuccess;
}

}  // namespace vantrel
