// The file system's attribute query.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// FILE_ATTRIBUTE_* values and the failure answer, with the platform's values.
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeArchive = 0x20;
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

class FileAttributesPort {
public:
    virtual ~FileAttributesPort() = default;
    // The attributes of `path`, or kInvalidFileAttributes when they cannot be read.
    virtual std::uint32_t attributesOf(const std::string& path) = 0;
};

}  // namespace vantrel
