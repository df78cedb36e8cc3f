// File attributes through GetFileAttributesA.
#pragma once

#include "platform/file_attributes.h"

namespace vantrel {

class Win32FileAttributes : public FileAttributesPort {
public:
    std::uint32_t attributesOf(const std::string& path) override;
};

}  // namespace vantrel
