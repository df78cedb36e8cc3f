// A string table with the entries a test puts in it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/string_table.h"

namespace vantrel {

class FakeStringTable : public StringTablePort {
public:
    void set(std::uint32_t id, const std::string& text) { m_entries[id] = text; }
    std::string load(std::uint32_t id) override {
        const auto found = m_entries.find(id);
        return found == m_entries.end() ? std::string() : found->second;
    }

private:
    std::map<std::uint32_t, std::string> m_entries;
};

}  // namespace vantrel
