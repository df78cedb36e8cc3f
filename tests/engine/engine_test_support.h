// What the engine tests share: fakes for the engine's ports, and a fixture that starts the
// engine around each test and restores the real AVI calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi_builder.h"
#include "engine/avi_calls.h"
#include "engine/builtin_strings.h"
#include "engine/engine_lifecycle.h"
#include "engine/engine_ports.h"
#include "engine/stream_workspace.h"
#include "engine/utf8_system_port.h"
#include "fake_message_box.h"
#include "fixture_files.h"

namespace vantrel::testing {

class FakeSystem final : public SystemPort {
public:
    int platformId() override { return m_platformId; }
    bool ansiToWide(const char* ansi, char16_t* wide, std::size_t capacity) override {
        return Utf8ToUtf16(ansi, wide, capacity);
    }
    void errorBeep() override { ++m_beeps; }

    void setPlatformId(int id) { m_platformId = id; }
    int beeps() const { return m_beeps; }

private:
    int m_platformId = 2;
    int m_beeps = 0;
};

// The engine started with fakes for its ports; files made in a test are deleted after it.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnginePorts(EnginePorts{&m_boxes, &m_strings, &m_system});
        ASSERT_EQ(StartEngine(0), 1);
    }
    void TearDown() override {
        StopEngine();
        AviCalls() = EngineAviCalls{};
        SetEnginePorts(EnginePorts{});
    }

    std::string makeFile(const std::vector<FixtureStream>& streams, std::uint32_t seed = 1) {
        m_files.push_back(std::make_unique<avitest::TempFile>(BuildFile(streams, seed)));
        return m_files.back()->path();
    }
    // A path beside the files of this test that nothing has written yet.
    std::string outputPath(const std::string& name = "out.avi") {
        if (m_files.empty())
            makeFile({Video(1)});
        return m_files.front()->path() + "." + name;
    }

    BaseStreamSet& base() { return GetWorkspace().BaseSet; }
    std::vector<std::int32_t> baseLengths() {
        std::vector<std::int32_t> lengths;
        for (std::int32_t i = 0; i < base().count; ++i)
            lengths.push_back(AVIStreamLength(base().streams[i]));
        return lengths;
    }
    std::vector<std::uint32_t> baseTypes() {
        std::vector<std::uint32_t> types;
        for (std::int32_t i = 0; i < base().count; ++i) {
            AVISTREAMINFOA info{};
            AVIStreamInfoA(base().streams[i], &info, sizeof info);
            types.push_back(info.fccType);
        }
        return types;
    }

    FakeMessageBox m_boxes;
    BuiltinStringTable m_strings;
    FakeSystem m_system;
    std::vector<std::unique_ptr<avitest::TempFile>> m_files;
};

}  // namespace vantrel::testing
