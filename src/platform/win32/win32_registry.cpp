#include "win32_registry.h"

#include <windows.h>

namespace vantrel {
namespace {

HKEY ToKey(RegistryHandle handle) {
    return reinterpret_cast<HKEY>(handle);
}
RegistryHandle ToHandle(HKEY key) {
    return reinterpret_cast<RegistryHandle>(key);
}

}  // namespace

static_assert(sizeof(RegistryHandle) == sizeof(HKEY));

std::int32_t Win32Registry::openKey(RegistryHandle parent, const std::string& name,
                                    std::uint32_t access, RegistryHandle& key) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(ToKey(parent), name.c_str(), 0, access, &opened);
    if (result == ERROR_SUCCESS)
        key = ToHandle(opened);
    return result;
}

std::int32_t Win32Registry::createKey(RegistryHandle parent, const std::string& name,
                                      std::uint32_t access, RegistryHandle& key) {
    HKEY created = nullptr;
    const LONG result =
        RegCreateKeyExA(ToKey(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                        nullptr, &created, nullptr);
    if (result == ERROR_SUCCESS)
        key = ToHandle(created);
    return result;
}

std::int32_t Win32Registry::queryValue(RegistryHandle key, const std::string& name,
                                       std::uint32_t* type, std::uint8_t* data,
                                       std::uint32_t& size) {
    DWORD valueType = 0;
    DWORD valueSize = size;
    const LONG result =
        RegQueryValueExA(ToKey(key), name.c_str(), nullptr, &valueType, data, &valueSize);
    if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)
        size = valueSize;
    if (type && result == ERROR_SUCCESS)
        *type = valueType;
    return result;
}

std::int32_t Win32Registry::setValue(RegistryHandle key, const std::string& name,
                                     std::uint32_t type, const std::uint8_t* data,
                                     std::uint32_t size) {
    return RegSetValueExA(ToKey(key), name.c_str(), 0, type, data, size);
}

std::int32_t Win32Registry::closeKey(RegistryHandle key) {
    return RegCloseKey(ToKey(key));
}

}  // namespace vantrel
