#include "inspect/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::inspect {
namespace {

struct ParseCase {
    const char* name;
    std::vector<const char*> args;  // after the program name
    std::string error;              // empty: parses
    std::vector<std::string> inputs;
    std::string snapshotFile;  // the --from-snapshot value, when parsed
};

class CommandLineParse : public testing::TestWithParam<ParseCase> {};

// The cases run one after another in one process, so each also proves that a
// parse starts afresh after the one before, whatever state that left behind.
TEST_P(CommandLineParse, AcceptsOrRefusesWithTheReason) {
    std::vector<const char*> argv{"grellaninspect"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    if (!GetParam().error.empty()) {
        try {
            CommandLine::Parse(static_cast<int>(argv.size()), argv.data());
            ADD_FAILURE() << "parsed";
        } catch (const CommandLine::Error& e) {
            EXPECT_EQ(e.what(), GetParam().error);
        }
        return;
    }
    const CommandLine line = CommandLine::Parse(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.Inputs(), GetParam().inputs);
    EXPECT_EQ(line.Value("from-snapshot"), GetParam().snapshotFile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineParse,
    testing::Values(
        ParseCase{"InputsBetweenOptions", {"a", "--diff", "-", "--json"}, "", {"a", "-"}, ""},
        ParseCase{"ValueAfterEquals", {"--from-snapshot=-"}, "", {}, "-"},
        ParseCase{"ValueThatLooksLikeAnOption", {"--from-snapshot", "--json"}, "", {}, "--json"},
        ParseCase{"AbbreviatedOption", {"--from-s", "f"}, "", {}, "f"},
        ParseCase{
            "DashDashEndsOptions", {"--diff", "--", "--json", "-h"}, "", {"--json", "-h"}, ""},
        ParseCase{"UnknownLong", {"--frob=1"}, "unrecognised option '--frob'", {}, ""},
        ParseCase{"UnknownShortInACluster", {"-hx"}, "unrecognised option '-x'", {}, ""},
        ParseCase{"Ambiguous",
                  {"--from", "f"},
                  "option '--from' is ambiguous and matches '--from-snapshot', '--from-dmi'",
                  {},
                  ""},
        ParseCase{"MissingValue",
                  {"--json", "--from-dmi"},
                  "the required argument for option '--from-dmi' is missing",
                  {},
                  ""},
        ParseCase{
            "ValueForAFlag", {"--json=yes"}, "option '--json' does not take any arguments", {}, ""},
        ParseCase{"Repeated",
                  {"-h", "--help"},
                  "option '--help' cannot be given more than once",
                  {},
                  ""}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tirsel::kvl::agent::driver::inspect
