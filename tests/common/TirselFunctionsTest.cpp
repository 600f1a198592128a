#include "common/TirselFunctions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CaseName.h"
#include "platform/CommandOutput.h"

namespace {

using tirsel::kvl::agent::driver::common::TirselFunctions;
using tirsel::kvl::agent::driver::platform::CommandOutput;

struct ExecCase {
    const char* name;
    std::string command;
    std::string expected;
};

class ExecCommandTest : public ::testing::TestWithParam<ExecCase> {};

TEST_P(ExecCommandTest, ReturnsStandardOutputWithOneFinalLineFeedRemoved) {
    EXPECT_EQ(TirselFunctions::ExecCommand(GetParam().command), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    RealShellCommands, ExecCommandTest,
    ::testing::Values(
        ExecCase{"TwoTrailingLineFeedsKeepOne", "printf 'abc\\n\\n'", "abc\n"},
        ExecCase{"CarriageReturnStays", "printf 'abc\\r\\n'", "abc\r"},
        ExecCase{"NoFinalLineFeedUnchanged", "printf 'a\\nb'", "a\nb"},
        ExecCase{"SeveralLinesJoined", "printf 'one\\ntwo\\nthree\\n'", "one\ntwo\nthree"},
        ExecCase{"PrintsNothing", "true", ""},
        ExecCase{"MissingCommand", "grellan-no-such-command-here 2>/dev/null", ""},
        ExecCase{"FailingCommandKeepsWhatItPrinted", "echo partial; exit 3", "partial"},
        ExecCase{"StandardErrorNotCaptured", "echo out; echo err >&2", "out"}),
    grellan::testing::CaseName());

TEST(ExecCommandLongOutput, TenThousandByteLineComesBackWhole) {
    const std::string output = TirselFunctions::ExecCommand("head -c 10000 /dev/zero | tr '\\0' x");
    EXPECT_EQ(output, std::string(10000, 'x'));
}

TEST(ExecCommandLongOutput, ManyLinesAcrossReadBoundaries) {
    const std::string output = TirselFunctions::ExecCommand("seq 1 5000");
    std::string expected;
    for (int i = 1; i <= 5000; ++i) {
        expected += std::to_string(i) + (i < 5000 ? "\n" : "");
    }
    EXPECT_EQ(output, expected);
}

// A zero byte ends what its piece keeps; pieces end after a line feed or
// after 127 bytes, wherever the pipe's reads happen to split the stream.
TEST(CommandOutput, KeepsWhatTheLineReaderKept) {
    const std::string long127 = std::string(126, 'a') + '\0';
    struct Case {
        std::string stream;
        std::string kept;
    };
    const std::vector<Case> cases = {
        {std::string("ab\0cd\nef\n", 9), "abef"},  // the line feed went with "cd"
        {std::string("\0x\ny", 4), "y"},
        {long127 + "next", std::string(126, 'a') + "next"},
        {std::string(127, 'b') + std::string("\0c", 2), std::string(127, 'b')},
        {"text\n\n", "text\n"},
    };
    for (const Case& c : cases) {
        for (const std::size_t split : {std::size_t{1}, std::size_t{5}, std::size_t{4096}}) {
            CommandOutput output(1 << 20);
            for (std::size_t at = 0; at < c.stream.size(); at += split) {
                ASSERT_TRUE(
                    output.Append(c.stream.data() + at, std::min(split, c.stream.size() - at)));
            }
            EXPECT_EQ(output.TakeText(), c.kept) << "split " << split;
        }
    }
}

TEST(CommandOutput, RefusesMoreThanItsLimit) {
    CommandOutput output(8);
    EXPECT_TRUE(output.Append("12345678", 8));
    EXPECT_FALSE(output.Append("9", 1));
    EXPECT_FALSE(output.Append("", 0));
    EXPECT_EQ(output.TakeText(), "");
}

struct TrimCase {
    const char* name;
    std::string input;
    std::string trimmed;
    std::string left;
    std::string right;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, RemovesCLocaleWhiteSpaceAtTheEndsOnly) {
    const TrimCase& c = GetParam();
    std::string both = c.input;
    std::string left = c.input;
    std::string right = c.input;
    TirselFunctions::trim(both);
    TirselFunctions::ltrim(left);
    TirselFunctions::rtrim(right);
    EXPECT_EQ(both, c.trimmed);
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(right, c.right);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimTest,
    ::testing::Values(
        TrimCase{"Empty", "", "", "", ""},
        TrimCase{"OnlyTheSixWhiteSpaces", "\t\n\v\f\r ", "", "", ""},
        TrimCase{"MiddleSpacesKept", "\t \r\na b  c\r\n \t", "a b  c", "a b  c\r\n \t",
                 "\t \r\na b  c"},
        TrimCase{"NoBreakSpaceIsNotWhiteSpace", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"},
        TrimCase{"NulIsNotWhiteSpace", std::string("\0x\0", 3), std::string("\0x\0", 3),
                 std::string("\0x\0", 3), std::string("\0x\0", 3)}),
    grellan::testing::CaseName());

}  // namespace
