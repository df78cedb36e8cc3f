#include "filelist/path_text.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_code_page.h"

namespace vantrel {
namespace {

const SingleByteCodePage kSingleByte;
const ShiftJisCodePage kShiftJis;
// A double-byte character whose second byte has the value of "\".
const std::string kTable = "\x95\x5C";

TEST(PathTextTest, FileTitleOfDropsDriveAndDirectory) {
    struct Case {
        std::string path;
        const AnsiCodePage& codePage;
        std::string title;
    };
    const Case cases[] = {
        {"D:\\Video\\part.1.avi", kSingleByte, "part.1.avi"},
        {"D:clip.avi", kSingleByte, "clip.avi"},
        {"clip.avi", kSingleByte, "clip.avi"},
        {"D:\\my.clips\\part", kSingleByte, "part"},
        {"D:/Video/a\\b/c.avi", kSingleByte, "c.avi"},
        {"\\\\server\\share\\c.avi", kSingleByte, "c.avi"},
        {"D:\\Video\\", kSingleByte, ""},
        // The trail byte is no separator in a double-byte code page, but is in a single-byte one.
        {"D:\\" + kTable + ".avi", kShiftJis, kTable + ".avi"},
        {"D:\\" + kTable + ".avi", kSingleByte, ".avi"},
        {"D:\\" + kTable + "\\x.avi", kShiftJis, "x.avi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string text = "untouched";
        EXPECT_TRUE(FileTitleOf(c.path, text, c.codePage));
        EXPECT_EQ(text, c.title);
    }
    std::string text = "untouched";
    EXPECT_FALSE(FileTitleOf("", text, kSingleByte));
    EXPECT_EQ(text, "untouched");
}

TEST(PathTextTest, DirectoryOfKeepsUpToTheLastBackslash) {
    struct Case {
        std::string path;
        const AnsiCodePage& codePage;
        std::string directory;
    };
    const Case cases[] = {
        {"D:\\clips\\part1.avi", kSingleByte, "D:\\clips\\"},
        {"part1.avi", kSingleByte, ""},
        {"D:\\part1.avi", kSingleByte, "D:\\"},
        {"D:/clips/part1.avi", kSingleByte, ""},  // only the backslash counts
        {"D:\\clips/part1.avi", kSingleByte, "D:\\"},
        {"D:\\" + kTable + "\\a.avi", kShiftJis, "D:\\" + kTable + "\\"},
        {"D:\\" + kTable + "a.avi", kShiftJis, "D:\\"},
        {"D:\\" + kTable + "a.avi", kSingleByte, "D:\\" + kTable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DirectoryOf(c.path, c.codePage), c.directory);
    }
}

TEST(PathTextTest, AviNameTestIgnoresCaseAndPosition) {
    struct Case {
        const char* path;
        bool passes;
    };
    const Case cases[] = {
        {"D:\\v\\CLIP.AVI", true},     {"D:\\v\\clip.Avi", true}, {"D:\\v\\clip.avi.txt", true},
        {"D:\\x.avi\\clip.mpg", true}, {"D:\\v\\clip.av", false}, {"D:\\v\\clipavi", false},
        {"D:\\v\\clip.mpg", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(HasAviInName(c.path, kSingleByte), c.passes);
    }
}

}  // namespace
}  // namespace vantrel
