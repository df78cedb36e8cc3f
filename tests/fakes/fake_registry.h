// An in-memory registry below HKEY_CURRENT_USER, which starts with the key "software" only. Key
// and value names compare without regard to letter case, as in the real registry. It records
// every call, counts the keys left open and can be told to refuse creating a key.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace vantrel {

class FakeRegistry : public RegistryPort {
public:
    struct Value {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };
    struct Call {
        std::string operation;  // "open", "create", "query", "set", "close"
        std::string path;       // the key the call acts on, below HKEY_CURRENT_USER
        std::uint32_t access = 0;
    };

    FakeRegistry() { m_keys["software"]; }

    std::int32_t openKey(RegistryHandle parent, const std::string& name, std::uint32_t access,
                         RegistryHandle& key) override {
        const std::string path = Join(parent, name);
        m_calls.push_back({"open", path, access});
        if (!IsOpen(parent))
            return kErrorInvalidHandle;
        if (!m_keys.count(Fold(path)))
            return kErrorFileNotFound;
        key = NewHandle(path);
        return kErrorSuccess;
    }
    std::int32_t createKey(RegistryHandle parent, const std::string& name, std::uint32_t access,
                           RegistryHandle& key) override {
        const std::string path = Join(parent, name);
        m_calls.push_back({"create", path, access});
        if (!IsOpen(parent))
            return kErrorInvalidHandle;
        if (m_denied.count(Fold(path)))
            return kErrorAccessDenied;
        m_keys[Fold(path)];
        key = NewHandle(path);
        return kErrorSuccess;
    }
    std::int32_t queryValue(RegistryHandle key, const std::string& name, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t& size) override {
        m_calls.push_back({"query", PathOf(key) + ":" + name, 0});
        if (!IsOpen(key))
            return kErrorInvalidHandle;
        const Value* value = Find(PathOf(key), name);
        if (!value)
            return kErrorFileNotFound;
        if (type)
            *type = value->type;
        const auto needed = static_cast<std::uint32_t>(value->data.size());
        if (data && size < needed) {
            size = needed;
            return kErrorMoreData;
        }
        if (data)
            std::copy(value->data.begin(), value->data.end(), data);
        size = needed;
        return kErrorSuccess;
    }
    std::int32_t setValue(RegistryHandle key, const std::string& name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) override {
        m_calls.push_back({"set", PathOf(key) + ":" + name, 0});
        if (!IsOpen(key))
            return kErrorInvalidHandle;
        m_keys[Fold(PathOf(key))][Fold(name)] = Value{type, {data, data + size}};
        return kErrorSuccess;
    }
    std::int32_t closeKey(RegistryHandle key) override {
        m_calls.push_back({"close", PathOf(key), 0});
        return m_open.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
    }

    // Test side. Paths are below HKEY_CURRENT_USER, parts joined by "\".
    bool hasKey(const std::string& path) const { return m_keys.count(Fold(path)) != 0; }
    std::optional<Value> value(const std::string& path, const std::string& name) const {
        const Value* found = Find(path, name);
        return found ? std::optional<Value>(*found) : std::nullopt;
    }
    void putValue(const std::string& path, const std::string& name, std::uint32_t type,
                  std::vector<std::uint8_t> data) {
        m_keys[Fold(path)][Fold(name)] = Value{type, std::move(data)};
    }
    void removeKey(const std::string& path) { m_keys.erase(Fold(path)); }
    void denyCreate(const std::string& path) { m_denied.insert(Fold(path)); }
    std::size_t openKeys() const { return m_open.size(); }
    const std::vector<Call>& calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }

    static constexpr std::int32_t kErrorInvalidHandle = 6;

private:
    static std::string Fold(std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }
    bool IsOpen(RegistryHandle key) const { return key == kHkeyCurrentUser || m_open.count(key); }
    std::string PathOf(RegistryHandle key) const {
        const auto found = m_open.find(key);
        return found == m_open.end() ? std::string() : found->second;
    }
    std::string Join(RegistryHandle parent, const std::string& name) const {
        const std::string base = PathOf(parent);
        return base.empty() ? name : base + "\\" + name;
    }
    RegistryHandle NewHandle(const std::string& path) {
        const RegistryHandle handle = m_nextHandle++;
        m_open[handle] = path;
        return handle;
    }
    const Value* Find(const std::string& path, const std::string& name) const {
        const auto key = m_keys.find(Fold(path));
        if (key == m_keys.end())
            return nullptr;
        const auto found = key->second.find(Fold(name));
        return found == key->second.end() ? nullptr : &found->second;
    }

    std::map<std::string, std::map<std::string, Value>> m_keys;
    std::set<std::string> m_denied;
    std::map<RegistryHandle, std::string> m_open;
    RegistryHandle m_nextHandle = 0x1000;
    std::vector<Call> m_calls;
};

}  // namespace vantrel
