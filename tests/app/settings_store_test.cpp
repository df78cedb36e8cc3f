#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/app_identity.h"
#include "app/app_message_box.h"
#include "fake_message_box.h"
#include "fake_registry.h"
#include "fake_string_table.h"

namespace vantrel {
namespace {

const std::string kOptionKey = "software\\QuarnelStudio\\AVIVantrel\\Option";

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

class SettingsStoreTest : public ::testing::Test {
protected:
    SettingsStoreTest() { store.SetSettingsKey("QuarnelStudio"); }

    FakeRegistry registry;
    SettingsStore store{registry, "AVIVantrel"};
};

TEST_F(SettingsStoreTest, ReadOfMissingValueCreatesKeyPathAndClosesEveryKey) {
    EXPECT_EQ(store.ReadSettingString("Option", "LastFolder", "fallback"), "fallback");
    EXPECT_EQ(store.ReadSettingInt("Setup", "t_first_update", -7), -7);

    EXPECT_TRUE(registry.hasKey(kOptionKey));
    EXPECT_TRUE(registry.hasKey("software\\QuarnelStudio\\AVIVantrel\\Setup"));
    EXPECT_EQ(registry.openKeys(), 0u);
    // "software" is opened, never created; everything below it is created with read and write
    // access, one level after the other.
    std::vector<std::string> opened;
    for (const FakeRegistry::Call& call : registry.calls()) {
        if (call.operation == "open" || call.operation == "create") {
            EXPECT_EQ(call.access, 0x2001Fu);
            opened.push_back(call.operation + " " + call.path);
        }
    }
    ASSERT_GE(opened.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(opened.begin(), opened.begin() + 4),
              (std::vector<std::string>{"open software", "create software\\QuarnelStudio",
                                        "create software\\QuarnelStudio\\AVIVantrel",
                                        "create " + kOptionKey}));
}

TEST_F(SettingsStoreTest, StringIsStoredAsRegSzWithItsTerminatingZero) {
    for (const std::string text : {"D:\\clips\\", ""}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(store.WriteSettingString("Option", "LastFolder", text));
        const auto value = registry.value(kOptionKey, "LastFolder");
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, kRegSz);
        EXPECT_EQ(value->data, Bytes(text + '\0'));
        EXPECT_EQ(store.ReadSettingString("Option", "LastFolder", "fallback"), text);
    }
    EXPECT_EQ(registry.openKeys(), 0u);
}

TEST_F(SettingsStoreTest, IntegerIsStoredAsFourByteDword) {
    ASSERT_TRUE(store.WriteSettingInt("Setup", "t_first_update", -2));
    const auto value =
        registry.value("software\\QuarnelStudio\\AVIVantrel\\Setup", "t_first_update");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, kRegDword);
    EXPECT_EQ(value->data, (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(store.ReadSettingInt("Setup", "t_first_update", 0), -2);
}

TEST_F(SettingsStoreTest, StoredDataIsReadByTheRulesOfItsKind) {
    struct Case {
        const char* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        std::int32_t expectedInt;
        std::string expectedText;
    };
    const std::vector<Case> cases = {
        // Integers: exactly 4 bytes, whatever the type; longer or shorter data is missing.
        {"dword", kRegDword, {0x78, 0x56, 0x34, 0x12}, 0x12345678, "xV4\x12"},
        {"binary of 4", kRegBinary, {1, 0, 0, 0}, 1, "\x01"},
        {"qword", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, -1, "\x01"},
        {"2 bytes", kRegBinary, {1, 0}, -1, "\x01"},
        // Strings: up to the first zero, whatever the type, also without a terminator.
        {"sz", kRegSz, Bytes(std::string("ab\0cd\0", 6)), -1, "ab"},
        {"no terminator", kRegBinary, Bytes("abcdef"), -1, "abcdef"},
        {"empty", kRegSz, {}, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        registry.putValue(kOptionKey, "v", c.type, c.data);
        EXPECT_EQ(store.ReadSettingInt("Option", "v", -1), c.expectedInt);
        EXPECT_EQ(store.ReadSettingString("Option", "v", "fallback"), c.expectedText);
    }
}

TEST_F(SettingsStoreTest, OversizedStringReadsAsMissing) {
    registry.putValue(kOptionKey, "v", kRegSz,
                      std::vector<std::uint8_t>(kMaxSettingStringBytes + 1, 'x'));
    EXPECT_EQ(store.ReadSettingString("Option", "v", "fallback"), "fallback");
    registry.putValue(kOptionKey, "v", kRegSz,
                      std::vector<std::uint8_t>(kMaxSettingStringBytes, 'x'));
    EXPECT_EQ(store.ReadSettingString("Option", "v", "fallback").size(), kMaxSettingStringBytes);
}

TEST(SettingsStoreFailureTest, UnreachableLocationGivesDefaultsAndFailedWrites) {
    struct Case {
        const char* name;
        void (*breakRegistry)(FakeRegistry&);
        bool selectKey;
    };
    const Case cases[] = {
        {"company key refused", [](FakeRegistry& r) { r.denyCreate("software\\QuarnelStudio"); },
         true},
        {"section refused",
         [](FakeRegistry& r) { r.denyCreate("software\\QuarnelStudio\\AVIVantrel\\Option"); },
         true},
        {"no software key", [](FakeRegistry& r) { r.removeKey("software"); }, true},
        {"no registry key selected", [](FakeRegistry&) {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRegistry registry;
        c.breakRegistry(registry);
        SettingsStore store(registry, "AVIVantrel");
        if (c.selectKey)
            store.SetSettingsKey("QuarnelStudio");
        EXPECT_EQ(store.ReadSettingString("Option", "LastFolder", "fallback"), "fallback");
        EXPECT_EQ(store.ReadSettingInt("Option", "n", 5), 5);
        EXPECT_FALSE(store.WriteSettingString("Option", "LastFolder", "x"));
        EXPECT_FALSE(store.WriteSettingInt("Option", "n", 1));
        EXPECT_FALSE(registry.value(kOptionKey, "LastFolder"));
        EXPECT_EQ(registry.openKeys(), 0u);
    }
}

TEST(AppIdentityTest, NamesFollowTheProgramFile) {
    struct Case {
        const char* path;
        const char* applicationName;
        const char* helpFilePath;
    };
    const Case cases[] = {
        {"C:\\Tools\\AVIVantrel.exe", "AVIVantrel", "C:\\Tools\\AVIVantrel.HLP"},
        {"C:\\Tools\\Renamed.exe", "Renamed", "C:\\Tools\\Renamed.HLP"},
        {"C:\\Tools\\noext", "noext", "C:\\Tools\\noext.HLP"},
        // A dot in a folder name is no extension; only the last dot of the name is.
        {"C:\\my.tools\\prog", "prog", "C:\\my.tools\\prog.HLP"},
        {"C:\\Tools\\a.b.exe", "a.b", "C:\\Tools\\a.b.HLP"},
        // A blank after the last dot ends the extension search.
        {"C:\\Tools\\v1.0 beta", "v1.0 beta", "C:\\Tools\\v1.0 beta.HLP"},
    };
    FakeStringTable strings;
    SingleByteCodePage codePage;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const AppIdentity identity = DeriveAppIdentity(c.path, strings, codePage);
        EXPECT_EQ(identity.applicationName, c.applicationName);
        EXPECT_EQ(identity.programFileName, c.applicationName);
        EXPECT_EQ(identity.helpFilePath, c.helpFilePath);
    }
}

TEST(AppIdentityTest, StringTableEntryOverridesOnlyTheApplicationName) {
    FakeStringTable strings;
    strings.set(0xE000, "Other Name");
    const AppIdentity identity =
        DeriveAppIdentity("C:\\Tools\\AVIVantrel.exe", strings, SingleByteCodePage());
    EXPECT_EQ(identity.applicationName, "Other Name");
    EXPECT_EQ(identity.programFileName, "AVIVantrel");
}

TEST(AppIdentityTest, RenamedProgramNoLongerSeesItsOldSettings) {
    FakeRegistry registry;
    FakeStringTable strings;
    SingleByteCodePage codePage;
    SettingsStore original(
        registry, DeriveAppIdentity("C:\\T\\AVIVantrel.exe", strings, codePage).applicationName);
    original.SetSettingsKey("QuarnelStudio");
    original.WriteSettingString("Option", "LastFolder", "D:\\clips\\");

    SettingsStore renamed(
        registry, DeriveAppIdentity("C:\\T\\Joiner.exe", strings, codePage).applicationName);
    renamed.SetSettingsKey("QuarnelStudio");
    EXPECT_EQ(renamed.ReadSettingString("Option", "LastFolder", ""), "");
    EXPECT_TRUE(registry.hasKey("software\\QuarnelStudio\\Joiner\\Option"));
    EXPECT_EQ(original.ReadSettingString("Option", "LastFolder", ""), "D:\\clips\\");
}

TEST(AppMessageBoxTest, OwnedByMainWindowCaptionedWithApplicationName) {
    FakeMessageBox box;
    AppMessageBox appBox(box, "AVIVantrel");
    appBox.setMainWindow(0x1234);
    appBox.show("Please select items!");
    ASSERT_EQ(box.calls().size(), 1u);
    const FakeMessageBox::Call& call = box.calls()[0];
    EXPECT_EQ(call.owner, 0x1234u);
    EXPECT_EQ(call.text, "Please select items!");
    EXPECT_EQ(call.caption, "AVIVantrel");
    EXPECT_EQ(call.flags, 0x30u);  // MB_OK | MB_ICONEXCLAMATION
}

}  // namespace
}  // namespace vantrel
