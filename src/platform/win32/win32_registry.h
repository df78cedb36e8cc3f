// The registry through the RegXxxA calls.
#pragma once

#include "platform/registry.h"

namespace vantrel {

class Win32Registry : public RegistryPort {
public:
    std::int32_t openKey(RegistryHandle parent, const std::string& name, std::uint32_t access,
                         RegistryHandle& key) override;
    std::int32_t createKey(RegistryHandle parent, const std::string& name, std::uint32_t access,
                           RegistryHandle& key) override;
    std::int32_t queryValue(RegistryHandle key, const std::string& name, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t& size) override;
    std::int32_t setValue(RegistryHandle key, const std::string& name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) override;
    std::int32_t closeKey(RegistryHandle key) override;
};

}  // namespace vantrel
