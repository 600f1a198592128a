// The words of the values a computation records whose words carry numbers:
// bounds, statuses, a set-up call's error, a scan's span. The other steps'
// words are fixed texts, which the inspector's reports show.
#include "inspect/StepText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "CaseName.h"

namespace {

using tirsel::kvl::agent::driver::business::CommandVerdict;
using tirsel::kvl::agent::driver::inspect::StepText;
using tirsel::kvl::agent::driver::platform::CommandOutcome;
using tirsel::kvl::agent::driver::smbios::AcquisitionStep;

CommandVerdict Ended(CommandOutcome outcome) {
    CommandVerdict verdict;
    verdict.kind = CommandVerdict::Kind::Unfinished;
    verdict.ending.outcome = outcome;
    verdict.ending.timeLimit = std::chrono::milliseconds(30000);
    verdict.ending.outputLimit = std::size_t{64} << 20;
    return verdict;
}

struct VerdictCase {
    const char* name;
    CommandVerdict verdict;
    std::string words;
};

class VerdictWords : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictWords, SayHowTheCommandEnded) {
    EXPECT_EQ(StepText::Verdict(GetParam().verdict), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, VerdictWords,
    ::testing::Values(
        VerdictCase{"WholeSeconds", Ended(CommandOutcome::TimedOut), "timed out after 30 s"},
        VerdictCase{"Milliseconds",
                    [] {
                        CommandVerdict v = Ended(CommandOutcome::TimedOut);
                        v.ending.timeLimit = std::chrono::milliseconds(1500);
                        return v;
                    }(),
                    "timed out after 1500 ms"},
        VerdictCase{"Mebibytes", Ended(CommandOutcome::OutputTooLarge), "output over 64 MiB"},
        VerdictCase{"Bytes",
                    [] {
                        CommandVerdict v = Ended(CommandOutcome::OutputTooLarge);
                        v.ending.outputLimit = 1000;
                        return v;
                    }(),
                    "output over 1000 bytes"},
        VerdictCase{"ShellNotStarted",
                    [] {
                        CommandVerdict v = Ended(CommandOutcome::NotStarted);
                        v.ending.setUp = {"posix_spawn", "/nonexistent/sh", ENOENT};
                        return v;
                    }(),
                    "could not start: posix_spawn /nonexistent/sh: No such file or directory"},
        // The shell reports a tool killed by signal 9 as 128 + 9.
        VerdictCase{"ToolKilledBeforeNoMatch",
                    [] {
                        CommandVerdict v = Ended(CommandOutcome::Exited);
                        v.kind = CommandVerdict::Kind::ToolFailed;
                        v.ending.exitStatus = 1;
                        v.ending.toolStatus = 137;
                        v.watchedTool = "system_profiler";
                        return v;
                    }(),
                    "system_profiler was killed by signal 9, and grep matched nothing"}),
    grellan::testing::CaseName());

TEST(AcquisitionWords, TheEfiScanNamesItsSpan) {
    AcquisitionStep step;
    step.kind = AcquisitionStep::Kind::NoEntryPoint;
    step.efiScan = true;
    step.address = 0x10000;
    step.last = 0x10000 + 0x100000 - 16;
    EXPECT_EQ(StepText::Acquisition(step), "EFI scan: no entry point within 1 MiB of 0x10000");
    step.efiScan = false;
    EXPECT_EQ(StepText::Acquisition(step),
              "legacy scan: no entry point between 0x10000 and 0x10FFF0");
}

}  // namespace
