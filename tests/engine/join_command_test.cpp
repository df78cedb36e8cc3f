// vantrel join as scripts and the outside checks use it: exit statuses, stderr lines, and what is
// left on disk.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fixture_files.h"

namespace vantrel::testing {
namespace {

struct CommandResult {
    int status = -1;
    std::string err;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class JoinCommandTest : public ::testing::Test {
protected:
    std::string makeFile(const std::vector<FixtureStream>& streams, std::uint32_t seed = 1) {
        m_files.push_back(std::make_unique<avitest::TempFile>(BuildFile(streams, seed)));
        return m_files.back()->path();
    }
    std::string folder() { return std::filesystem::path(makeFile({Video(1)})).parent_path(); }

    CommandResult join(const std::vector<std::string>& args) {
        const std::string errPath = folder() + "/stderr.txt";
        std::string command = "'" VANTREL_EXE "' join";
        for (const std::string& arg : args)
            command += " '" + arg + "'";
        command += " 2>'" + errPath + "' >/dev/null </dev/null";
        const int raw = std::system(command.c_str());
        return CommandResult{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(errPath)};
    }

    std::vector<std::unique_ptr<avitest::TempFile>> m_files;
};

TEST_F(JoinCommandTest, JoinsCompatibleInputsSilently) {
    const std::string a = makeFile({Video(3), Audio(2)}, 1);
    const std::string b = makeFile({Video(2), Audio(4)}, 2);
    const std::string c = makeFile({Video(1), Audio(1)}, 3);
    const std::string out = folder() + "/joined.avi";

    const CommandResult run = join({"-o", out, a, b, c});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(FileStreamLengths(out), (std::vector<std::int32_t>{6, 7 * 441}));
}

TEST_F(JoinCommandTest, ProblemOfTheEngineAfterWritingGivesStatus2) {
    const std::string base = makeFile({Video(2), Audio(2)});
    const std::string faster = makeFile({Video(3, avitest::FourCC("MJPG"), 30), Audio(3)}, 2);
    const std::string out = folder() + "/joined.avi";

    const CommandResult run = join({"--quiet", "-o", out, base, faster});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "warning: Cannot paste into this stream\n");
    EXPECT_EQ(FileStreamLengths(out), (std::vector<std::int32_t>{2, 5 * 441}));
}

TEST_F(JoinCommandTest, RefusedInputEndsTheJoinBeforeAnythingIsWritten) {
    const std::string base = makeFile({Video(2), Audio(2)});
    const std::string other = makeFile({Video(2, avitest::FourCC("XVID")), Audio(2)});
    const std::string fewer = makeFile({Video(2)});
    const std::string broken = folder() + "/broken.avi";
    std::ofstream(broken) << "not an AVI file";
    struct Case {
        std::string input;
        std::string errStart;
    };
    const Case cases[] = {
        {other, "warning: " + other +
                    " has the different format with previous avi files. It can not be merged.\n"},
        {fewer, "warning: " + fewer +
                    " has the different stream number with previous avi files. It can not be "
                    "merged.\n"},
        {broken, "error: The program does not open the avi file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string out = folder() + "/joined.avi";
        const CommandResult run = join({"-o", out, base, base, c.input});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.substr(0, c.errStart.size()), c.errStart);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(JoinCommandTest, ExistingOutputIsReplacedOnlyWithForceAndNeverAnInput) {
    const std::string a = makeFile({Video(2)}, 1);
    const std::string b = makeFile({Video(3)}, 2);
    const std::string out = folder() + "/joined.avi";
    std::ofstream(out) << "old";

    EXPECT_EQ(join({"-o", out, a, b}).status, 1);
    EXPECT_EQ(ReadText(out), "old");
    EXPECT_EQ(join({"--force", "-o", out, a, b}).status, 0);
    EXPECT_EQ(FileStreamLengths(out), std::vector<std::int32_t>{5});

    // The same file under another spelling, even with --force.
    const std::filesystem::path input(b);
    const std::string sameAsB = (input.parent_path() / "." / input.filename()).string();
    const std::string before = ReadText(b);
    const CommandResult run = join({"--force", "-o", sameAsB, a, b});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the output is one of the inputs"), std::string::npos);
    EXPECT_EQ(ReadText(b), before);
}

TEST_F(JoinCommandTest, UsageMistakesAndHelp) {
    const std::string a = makeFile({Video(2)});
    EXPECT_EQ(join({"--help"}).status, 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{a},
                                                 {"-o"},
                                                 {"-o", folder() + "/x.avi"},
                                                 {"--frobnicate", "-o", folder() + "/x.avi", a}}) {
        const CommandResult run = join(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("usage: vantrel join"), std::string::npos);
    }
}

}  // namespace
}  // namespace vantrel::testing
