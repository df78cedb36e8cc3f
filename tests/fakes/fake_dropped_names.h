// One shell drop with given names; it remembers whether it was given back and whether a name was
// asked for afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/dropped_names.h"

namespace vantrel {

class FakeDroppedNames : public DroppedNamesPort {
public:
    explicit FakeDroppedNames(std::vector<std::string> names) : m_names(std::move(names)) {}

    std::uint32_t count() override {
        if (m_released)
            m_usedAfterRelease = true;
        return static_cast<std::uint32_t>(m_names.size());
    }
    std::string name(std::uint32_t index) override {
        if (m_released)
            m_usedAfterRelease = true;
        return index < m_names.size() ? m_names[index] : std::string();
    }
    void release() override {
        ++m_releases;
        m_released = true;
    }

    int releases() const { return m_releases; }
    bool usedAfterRelease() const { return m_usedAfterRelease; }

private:
    std::vector<std::string> m_names;
    bool m_released = false;
    int m_releases = 0;
    bool m_usedAfterRelease = false;
};

}  // namespace vantrel
