// The settings store over the real registry (Wine's, in the test run). Each run works below its
// own application name and deletes it afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/app_identity.h"
#include "app/settings_store.h"
#include "fake_string_table.h"
#include "win32_code_page.h"
#include "win32_program_path.h"
#include "win32_registry.h"

namespace vantrel {
namespace {

struct RawValue {
    DWORD type = 0;
    std::vector<std::uint8_t> data;
};

class Win32SettingsTest : public ::testing::Test {
protected:
    Win32SettingsTest()
        : m_application("VantrelTest" + std::to_string(GetCurrentProcessId()) + "_" +
                        std::to_string(GetTickCount())),
          m_store(m_registry, m_application) {
        m_store.SetSettingsKey("QuarnelStudio");
    }
    ~Win32SettingsTest() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, ApplicationKey().c_str());
        // Only when no one else keeps settings there.
        RegDeleteKeyA(HKEY_CURRENT_USER, "software\\QuarnelStudio");
    }

    std::string ApplicationKey() const { return "software\\QuarnelStudio\\" + m_application; }
    bool KeyExists(const std::string& path) const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    bool ReadRaw(const std::string& section, const std::string& name, RawValue& value) const {
        const std::string path = ApplicationKey() + "\\" + section;
        DWORD size = 0;
        if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                         &value.type, nullptr, &size) != ERROR_SUCCESS) {
            return false;
        }
        value.data.resize(size);
        return RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name.c_str(),
                            RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(),
                            &size) == ERROR_SUCCESS;
    }
    void WriteRaw(const std::string& section, const std::string& name, DWORD type,
                  const std::vector<std::uint8_t>& data) {
        HKEY key = nullptr;
        const std::string path = ApplicationKey() + "\\" + section;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
        RegCloseKey(key);
    }

    std::string m_application;
    Win32Registry m_registry;
    SettingsStore m_store;
};

TEST_F(Win32SettingsTest, ReadOfMissingValueCreatesTheKeyPath) {
    ASSERT_FALSE(KeyExists(ApplicationKey()));
    EXPECT_EQ(m_store.ReadSettingString("Option", "LastFolder", "fallback"), "fallback");
    EXPECT_EQ(m_store.ReadSettingInt("Setup", "t_first_update", 17), 17);
    EXPECT_TRUE(KeyExists(ApplicationKey() + "\\Option"));
    EXPECT_TRUE(KeyExists(ApplicationKey() + "\\Setup"));
    RawValue value;
    EXPECT_FALSE(ReadRaw("Option", "LastFolder", value));
}

TEST_F(Win32SettingsTest, StringsAreRegSzWithTerminatingZeroAndIntegersRegDword) {
    for (const std::string text : {"D:\\clips\\", ""}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(m_store.WriteSettingString("Option", "LastFolder", text));
        RawValue value;
        ASSERT_TRUE(ReadRaw("Option", "LastFolder", value));
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        const std::string withZero = text + '\0';
        EXPECT_EQ(value.data, std::vector<std::uint8_t>(withZero.begin(), withZero.end()));
        EXPECT_EQ(m_store.ReadSettingString("Option", "LastFolder", "fallback"), text);
    }

    ASSERT_TRUE(m_store.WriteSettingInt("Setup", "t_first_update", -2));
    RawValue value;
    ASSERT_TRUE(ReadRaw("Setup", "t_first_update", value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value.data, (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(m_store.ReadSettingInt("Setup", "t_first_update", 0), -2);
}

TEST_F(Win32SettingsTest, ValuesWrittenByOthersAreReadByTheRulesOfTheirKind) {
    struct Case {
        const char* name;
        DWORD type;
        std::vector<std::uint8_t> data;
        std::int32_t expectedInt;
        std::string expectedText;
    };
    const Case cases[] = {
        {"qword", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, -1, "\x05"},
        {"binary of 4", REG_BINARY, {5, 0, 0, 0}, 5, "\x05"},
        {"text without terminator", REG_BINARY, {'a', 'b', 'c'}, -1, "abc"},
        {"string of digits", REG_SZ, {'1', '2', 0}, -1, "12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteRaw("Option", "v", c.type, c.data);
        EXPECT_EQ(m_store.ReadSettingInt("Option", "v", -1), c.expectedInt);
        EXPECT_EQ(m_store.ReadSettingString("Option", "v", "fallback"), c.expectedText);
    }
}

TEST(Win32IdentityTest, ApplicationNameIsTheProgramFileName) {
    const std::string path = Win32ProgramPath();
    FakeStringTable strings;
    const AppIdentity identity = DeriveAppIdentity(path, strings, Win32CodePage());
    EXPECT_EQ(identity.applicationName, "platform_win32_tests");
    EXPECT_EQ(identity.helpFilePath, path.substr(0, path.size() - 4) + ".HLP");
}

}  // namespace
}  // namespace vantrel
