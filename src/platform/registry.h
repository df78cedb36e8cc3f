// The registry, through the calls the settings store makes. Results are the platform's error
// codes (0 for success); keys are the platform's handles as numbers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vantrel {

using RegistryHandle = std::uintptr_t;
// HKEY_CURRENT_USER: the platform's value, sign-extended as the platform does on 64 bits.
constexpr RegistryHandle kHkeyCurrentUser =
    static_cast<RegistryHandle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001)));

constexpr std::int32_t kErrorSuccess = 0;
constexpr std::int32_t kErrorFileNotFound = 2;
constexpr std::int32_t kErrorAccessDenied = 5;
constexpr std::int32_t kErrorMoreData = 234;

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegQword = 11;

constexpr std::uint32_t kKeyReadWrite = 0x2001F;  // KEY_READ | KEY_WRITE

class RegistryPort {
public:
    virtual ~RegistryPort() = default;
    // RegOpenKeyExA: opens an existing subkey.
    virtual std::int32_t openKey(RegistryHandle parent, const std::string& name,
                                 std::uint32_t access, RegistryHandle& key) = 0;
    // RegCreateKeyExA: opens or creates a subkey, no class, non-volatile, default security.
    virtual std::int32_t createKey(RegistryHandle parent, const std::string& name,
                                   std::uint32_t access, RegistryHandle& key) = 0;
    // RegQueryValueExA: with `data` nullptr only `size` is set to the value's size; otherwise
    // `size` is the buffer size on the way in, and kErrorMoreData means the value does not fit.
    // `type` may be nullptr.
    virtual std::int32_t queryValue(RegistryHandle key, const std::string& name,
                                    std::uint32_t* type, std::uint8_t* data,
                                    std::uint32_t& size) = 0;
    // RegSetValueExA.
    virtual std::int32_t setValue(RegistryHandle key, const std::string& name, std::uint32_t type,
                                  const std::uint8_t* data, std::uint32_t size) = 0;
    virtual std::int32_t closeKey(RegistryHandle key) = 0;
};

// An open key that is closed when the object goes; empty when no key was opened.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(RegistryPort& registry, RegistryHandle handle)
        : m_registry(&registry), m_handle(handle) {}
    RegistryKey(RegistryKey&& other) noexcept
        : m_registry(std::exchange(other.m_registry, nullptr)),
          m_handle(std::exchange(other.m_handle, 0)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        if (this != &other) {
            close();
            m_registry = std::exchange(other.m_registry, nullptr);
            m_handle = std::exchange(other.m_handle, 0);
        }
        return *this;
    }
    ~RegistryKey() { close(); }

    explicit operator bool() const { return m_registry != nullptr; }
    RegistryHandle handle() const { return m_handle; }
    void close() {
        if (m_registry)
            m_registry->closeKey(m_handle);
        m_registry = nullptr;
        m_handle = 0;
    }

private:
    RegistryPort* m_registry = nullptr;
    RegistryHandle m_handle = 0;
};

}  // namespace vantrel
