// File attributes from a table; a path not in it has none (the query fails).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/file_attributes.h"

namespace vantrel {

class FakeFileAttributes : public FileAttributesPort {
public:
    void set(const std::string& path, std::uint32_t attributes) { m_table[path] = attributes; }
    std::uint32_t attributesOf(const std::string& path) override {
        m_queries.push_back(path);
        const auto found = m_table.find(path);
        return found == m_table.end() ? kInvalidFileAttributes : found->second;
    }
    const std::vector<std::string>& queries() const { return m_queries; }

private:
    std::map<std::string, std::uint32_t> m_table;
    std::vector<std::string> m_queries;
};

}  // namespace vantrel
