// The UTF-8 to UTF-16 conversion that gives vantrel's wide save its path.
#include <gtest/gtest.h>

#include <string>

#include "engine/utf8_system_port.h"

namespace vantrel {
namespace {

TEST(Utf8ToUtf16, ConvertsWellFormedTextAndRefusesEverythingElse) {
    struct Case {
        const char* name;
        std::string utf8;
        bool converts;
        std::u16string wide;
    };
    const Case cases[] = {
        {"ASCII", "dir/clip 1.avi", true, u"dir/clip 1.avi"},
        {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", true, u"\u00E9\u20AC"},
        {"four bytes, a surrogate pair", "\xF0\x9F\x8E\xAC", true, u"\U0001F3AC"},
        {"empty", "", true, u""},
        {"lone continuation byte", "a\x80", false, {}},
        {"overlong slash", "\xC0\xAF", false, {}},
        {"overlong three bytes", "\xE0\x80\xAF", false, {}},
        {"encoded surrogate", "\xED\xA0\x80", false, {}},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false, {}},
        {"cut off at the end", "a\xE2\x82", false, {}},
        {"Latin-1 byte", "caf\xE9.avi", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char16_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(Utf8ToUtf16(c.utf8.c_str(), buffer, 16), c.converts);
        if (c.converts)
            EXPECT_EQ(std::u16string(buffer), c.wide);
        else
            EXPECT_EQ(buffer[0], u'#');  // untouched
    }
}

TEST(Utf8ToUtf16, NeedsRoomForTheTerminator) {
    char16_t buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_FALSE(Utf8ToUtf16("abcd", buffer, 4));
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_TRUE(Utf8ToUtf16("abc", buffer, 4));
    EXPECT_EQ(std::u16string(buffer), u"abc");
}

}  // namespace
}  // namespace vantrel
