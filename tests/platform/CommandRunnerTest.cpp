// The command runner against real processes: its bounds, what it reports of
// a command's end, and what of the host a command can and cannot reach.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "Processes.h"
#include "ScopedEnvironment.h"
#include "TempDir.h"
#include "common/TirselFunctions.h"
#include "platform/CommandRunner.h"

namespace {

using grellan::testing::ReadFile;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::common::TirselFunctions;
using tirsel::kvl::agent::driver::platform::CommandOutcome;
using tirsel::kvl::agent::driver::platform::CommandResult;
using tirsel::kvl::agent::driver::platform::CommandRunner;
using tirsel::kvl::agent::driver::platform::CommandSettings;
using tirsel::kvl::agent::driver::platform::ScopedCommandSettings;
using tirsel::kvl::agent::driver::platform::WithToolDirectory;
using Clock = std::chrono::steady_clock;

// `command` run with `settings` and the environment they give this process.
CommandResult RunWith(const CommandSettings& settings, const std::string& command,
                      const std::string& watchedTool = std::string()) {
    return CommandRunner::Run({command, watchedTool}, settings, settings.ToolEnvironment());
}

struct BoundCase {
    const char* name;
    std::string command;  // "PIDS" stands for a file the processes list themselves in
    CommandOutcome outcome;
    int exitStatus;
    int signal;
};

class RunCommandBounds : public ::testing::TestWithParam<BoundCase> {};

// With a 1 s bound and 1 MiB of output, every case returns within the bound
// plus a second, leaves no child and no process of its group behind.
TEST_P(RunCommandBounds, EndsWithinTheBoundAndLeavesNothing) {
    const BoundCase& c = GetParam();
    const TempDir dir;
    const std::string pids = dir.Path() + "/pids";
    std::string command = c.command;
    for (std::size_t at; (at = command.find("PIDS")) != std::string::npos;) {
        command.replace(at, 4, "'" + pids + "'");
    }
    CommandSettings settings;
    settings.timeLimit = std::chrono::milliseconds(1000);
    settings.outputLimit = std::size_t{1} << 20;

    const Clock::time_point start = Clock::now();
    const CommandResult result = RunWith(settings, command);
    const auto elapsed = Clock::now() - start;

    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.signal, c.signal);
    // The bounds it ran under, which a report of a bound passed names.
    EXPECT_EQ(result.timeLimit, settings.timeLimit);
    EXPECT_EQ(result.outputLimit, settings.outputLimit);
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_TRUE(grellan::testing::NoChildLeft());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RunCommandBounds,
    ::testing::Values(
        BoundCase{"ExitZero", "echo $$ > PIDS", CommandOutcome::Exited, 0, 0},
        BoundCase{"GrepNoMatch", "echo x | grep y", CommandOutcome::Exited, 1, 0},
        BoundCase{"ExitTwo", "exit 2", CommandOutcome::Exited, 2, 0},
        BoundCase{"NotFound", "grellan-no-such-tool", CommandOutcome::Exited, 127, 0},
        BoundCase{"KilledBySignal", "kill -9 $$", CommandOutcome::Signalled, -1, 9},
        BoundCase{"NeverExits", "echo $$ > PIDS; sleep 1000", CommandOutcome::TimedOut, -1, 0},
        BoundCase{"ClosesItsOutputAndStays", "echo $$ > PIDS; exec >&-; sleep 1000",
                  CommandOutcome::TimedOut, -1, 0},
        BoundCase{"GrandchildHoldsTheOutput", "sleep 1000 & echo $! > PIDS; echo partial",
                  CommandOutcome::OutputHeldOpen, -1, 0},
        BoundCase{"DetachedGrandchildIsKilled", "sleep 1000 >/dev/null & echo $! > PIDS",
                  CommandOutcome::Exited, 0, 0},
        BoundCase{"EndlessOutput", "echo $$ > PIDS; yes", CommandOutcome::OutputTooLarge, -1, 0},
        BoundCase{"OneByteTooMany", "head -c 1048577 /dev/zero", CommandOutcome::OutputTooLarge, -1,
                  0},
        BoundCase{"ExactlyTheBound", "head -c 1048576 /dev/zero", CommandOutcome::Exited, 0, 0}),
    grellan::testing::CaseName());

// Commands run together, each with its own bounds: the caller hears of each
// as it ends and may stop the run there; every other command is then killed
// at once and reported as stopped. Results come back in the commands' order.
struct TogetherCase {
    const char* name;
    std::vector<std::string> commands;  // "PIDS" as in BoundCase
    std::vector<CommandOutcome> outcomes;
    std::vector<std::string> outputs;
    int withinMs;  // the slowest alone takes 300 ms, all of them in turn 900
};

class RunTogether : public ::testing::TestWithParam<TogetherCase> {};

TEST_P(RunTogether, StopsAtTheFirstFailureAndLeavesNothing) {
    const TogetherCase& c = GetParam();
    const TempDir dir;
    std::vector<CommandRunner::Command> commands;
    for (std::string command : c.commands) {
        for (std::size_t at; (at = command.find("PIDS")) != std::string::npos;) {
            command.replace(at, 4, "'" + dir.Path() + "/pids'");
        }
        commands.push_back({command, std::string()});
    }
    CommandSettings settings;
    settings.timeLimit = std::chrono::milliseconds(1000);
    std::vector<std::size_t> told;

    const Clock::time_point start = Clock::now();
    const std::vector<CommandResult> results = CommandRunner::RunTogether(
        commands, settings, settings.ToolEnvironment(), [&](std::size_t i, CommandResult& result) {
            told.push_back(i);
            return result.outcome != CommandOutcome::Exited || result.exitStatus == 0;
        });
    const auto took = Clock::now() - start;

    ASSERT_EQ(results.size(), c.outcomes.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].outcome, c.outcomes[i]) << i;
        EXPECT_EQ(results[i].output, c.outputs[i]) << i;
    }
    EXPECT_EQ(std::count(c.outcomes.begin(), c.outcomes.end(), CommandOutcome::Stopped) +
                  static_cast<long>(told.size()),
              static_cast<long>(c.outcomes.size()));
    EXPECT_LT(took, std::chrono::milliseconds(c.withinMs));
    EXPECT_TRUE(grellan::testing::NoChildLeft());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(dir.Path() + "/pids")));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RunTogether,
    ::testing::Values(
        TogetherCase{"AllAtOnce",
                     {"sleep 0.3; echo a", "sleep 0.2; echo b", "sleep 0.3; echo c"},
                     {CommandOutcome::Exited, CommandOutcome::Exited, CommandOutcome::Exited},
                     {"a", "b", "c"},
                     700},
        TogetherCase{"FirstFailureStopsTheOthers",
                     {"echo $$ >> PIDS; exec sleep 1000", "sleep 0.1; exit 2",
                      "echo $$ >> PIDS; exec sleep 1000"},
                     {CommandOutcome::Stopped, CommandOutcome::Exited, CommandOutcome::Stopped},
                     {"", "", ""},
                     600},
        TogetherCase{"EachHasItsOwnBound",
                     {"echo $$ >> PIDS; exec sleep 1000", "sleep 0.3; echo b"},
                     {CommandOutcome::TimedOut, CommandOutcome::Exited},
                     {"", "b"},
                     1700}),
    grellan::testing::CaseName());

// The result names the set-up call that failed, what it was to start and why.
TEST(RunCommandStart, AShellThatCannotBeStartedIsNamed) {
    CommandSettings settings;
    settings.shell = "/nonexistent/sh";
    const CommandResult result = RunWith(settings, "echo hi");
    EXPECT_EQ(result.outcome, CommandOutcome::NotStarted);
    EXPECT_EQ(std::string(result.setUp.call), "posix_spawn");
    EXPECT_EQ(result.setUp.program, "/nonexistent/sh");
    EXPECT_EQ(result.setUp.error, ENOENT);
    EXPECT_EQ(result.output, "");
}

// The runner takes its policy from its arguments alone: the settings a test
// build installs for the library's callers do not reach it.
TEST(RunCommandStart, TakesTheSettingsAndEnvironmentItIsGiven) {
    CommandSettings installed;
    installed.shell = "/nonexistent/sh";
    const ScopedCommandSettings scoped(installed);
    const CommandSettings given;
    const CommandResult result =
        CommandRunner::Run({"echo \"$GRELLAN_GIVEN:$PATH\"", std::string()}, given,
                           {"GRELLAN_GIVEN=yes", "PATH=/bin"});
    EXPECT_EQ(result.outcome, CommandOutcome::Exited);
    EXPECT_EQ(result.output, "yes:/bin");
}

// The wrapper with each shell macOS may have as /bin/sh (dash, bash in POSIX
// mode, zsh in sh emulation: each run under the name sh), and with this
// machine's own /bin/sh (on a Mac, bash 3.2 in POSIX mode): the status of
// the system_profiler in front of grep is reported beside grep's.
struct PipelineCase {
    const char* name;
    const char* tool;  // the fake system_profiler's script
    std::string output;
    int exitStatus;  // grep's
    int toolStatus;  // system_profiler's
};

class PipelineUnderShell : public ::testing::TestWithParam<std::tuple<const char*, PipelineCase>> {
};

TEST_P(PipelineUnderShell, ReportsTheToolInFrontOfGrep) {
    // A Mac keeps its shells in /bin; Debian in /usr/bin, and in /bin as well.
    std::string shell = std::string("/bin/") + std::get<0>(GetParam());
    if (access(shell.c_str(), X_OK) != 0) {
        shell = std::string("/usr/bin/") + std::get<0>(GetParam());
    }
    const PipelineCase& c = std::get<1>(GetParam());
    if (access(shell.c_str(), X_OK) != 0) {
        GTEST_SKIP() << std::get<0>(GetParam()) << " is not installed";
    }
    const TempDir tools;
    tools.WriteScript("system_profiler", c.tool);
    ASSERT_EQ(symlink(shell.c_str(), (tools.Path() + "/sh").c_str()), 0);
    CommandSettings settings = WithToolDirectory(tools.Path());
    settings.shell = tools.Path() + "/sh";

    const CommandResult result =
        RunWith(settings, "system_profiler SPHardwareDataType | grep -E -i \"Serial\\sNumber\"",
                "system_profiler");
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.toolStatus, c.toolStatus);
    EXPECT_TRUE(grellan::testing::NoChildLeft());
}

INSTANTIATE_TEST_SUITE_P(
    Shells, PipelineUnderShell,
    ::testing::Combine(
        ::testing::Values("sh", "dash", "bash", "zsh"),
        ::testing::Values(
            PipelineCase{"KilledBySignal", "kill -9 $$", "", 1, 128 + 9},
            PipelineCase{"ExitOneWithoutOutput", "exit 1", "", 1, 1},
            PipelineCase{"ExitOneAfterTheLine", "echo 'Serial Number: A1'; exit 1",
                         "Serial Number: A1", 0, 1},
            PipelineCase{"ExitZeroWithoutTheLine", "echo Hardware:", "", 1, 0},
            // The status channel is not the tool's to write to.
            PipelineCase{"ToolGetsNoStatusChannel",
                         "echo 'Serial Number: A1'; test -e /dev/fd/3 && echo 'Serial Number: 3'",
                         "Serial Number: A1", 0, 1})),
    [](const ::testing::TestParamInfo<std::tuple<const char*, PipelineCase>>& info) {
        return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });

// Restores one of the host's standard descriptors after the test replaced it.
class SavedDescriptor {
public:
    explicit SavedDescriptor(int fd) : fd(fd), copy(dup(fd)) {}
    ~SavedDescriptor() {
        dup2(copy, fd);
        close(copy);
    }
    SavedDescriptor(const SavedDescriptor&) = delete;
    SavedDescriptor& operator=(const SavedDescriptor&) = delete;

private:
    int fd;
    int copy;
};

TEST(RunCommandIsolation, HostDescriptorsStayWithTheHost) {
    const TempDir dir;
    // A descriptor without O_CLOEXEC, as hosts open them.
    const int hostFile = open((dir.Path() + "/host").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(hostFile, 3);
    const std::string visible = "test -e /dev/fd/" + std::to_string(hostFile) + " && echo seen";
    EXPECT_EQ(TirselFunctions::ExecCommand(visible), "");
    // Nothing but 0-2 is open in the command, counted by the shell itself: a
    // tool such as ls opens descriptors of its own (macOS's through fts).
    EXPECT_EQ(
        TirselFunctions::ExecCommand(
            "fd=3; while [ $fd -lt 256 ]; do [ -e /dev/fd/$fd ] && echo $fd; fd=$((fd+1)); done"),
        "");
    close(hostFile);

    // Host stdin holds data: the tool reads /dev/null, at once.
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(write(input[1], "secret\n", 7), 7);
    {
        const SavedDescriptor savedStdin(STDIN_FILENO);
        dup2(input[0], STDIN_FILENO);
        EXPECT_EQ(TirselFunctions::ExecCommand("cat"), "");
        EXPECT_EQ(TirselFunctions::ExecCommand("read line; echo \"[$line]\""), "[]");
    }
    close(input[0]);
    close(input[1]);

    // Host fd 2 is a data file: nothing reaches it.
    const std::string errors = dir.Path() + "/errors";
    {
        const SavedDescriptor savedStderr(STDERR_FILENO);
        const int file = open(errors.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        dup2(file, STDERR_FILENO);
        close(file);
        TirselFunctions::ExecCommand("echo err >&2; grellan-no-such-tool");
    }
    EXPECT_EQ(ReadFile(errors), "");
}

// The tools are found on the fixed search path only, and the loader's and the
// shell's injection points never reach them; the locale does.
TEST(RunCommandIsolation, HostileEnvironmentIsNotHonoured) {
    const TempDir attacker;
    const std::string marker = attacker.Path() + "/ran";
    for (const char* tool : {"system_profiler", "ioreg", "grep", "dmidecode", "cat"}) {
        attacker.WriteScript(tool, "echo pwned; touch '" + marker + "'\n");
    }
    using grellan::testing::ScopedEnvironment;
    const ScopedEnvironment path("PATH", attacker.Path() + "::.:");
    const ScopedEnvironment preload("LD_PRELOAD", attacker.Path() + "/evil.so");
    const ScopedEnvironment function("BASH_FUNC_grep%%", "() { echo pwned; }");
    const ScopedEnvironment env("ENV", attacker.Path() + "/rc");
    const ScopedEnvironment ifs("IFS", "/");
    const ScopedEnvironment locale("LC_ALL", "C");

    EXPECT_EQ(TirselFunctions::ExecCommand("echo a:b | grep a"), "a:b");
    EXPECT_EQ(TirselFunctions::ExecCommand("system_profiler SPHardwareDataType | grep -c pwned"),
              "0");
    EXPECT_EQ(TirselFunctions::ExecCommand("echo \"$PATH\""), "/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(TirselFunctions::ExecCommand("env | grep -c -E '^(LD_|BASH_FUNC_|ENV=|IFS=)'"), "0");
    EXPECT_EQ(TirselFunctions::ExecCommand("echo \"$LC_ALL\""), "C");
    if (access("/bin/bash", X_OK) == 0) {
        CommandSettings settings;
        settings.shell = "/bin/bash";
        const ScopedCommandSettings bash(settings);
        EXPECT_EQ(TirselFunctions::ExecCommand("echo a:b | grep a"), "a:b");
    }
    EXPECT_FALSE(std::ifstream(marker).good());
}

TEST(ToolEnvironment, KeepsOnlyTheAllowedNamesAndFixesThePath) {
    const std::vector<std::string> host = {"LANG=en_US.UTF-8",
                                           "LD_PRELOAD=/x.so",
                                           "DYLD_INSERT_LIBRARIES=/x",
                                           "BASH_ENV=/rc",
                                           "GREP_OPTIONS=-n",
                                           "POSIXLY_CORRECT=1",
                                           "CDPATH=/tmp",
                                           "PATH=.:/tmp",
                                           "HOME=/root",
                                           "NOEQUALS",
                                           "=empty",
                                           "HOMEDIR=/x",
                                           "LC_ALL=C",
                                           "TMPDIR=/t",
                                           "USER=u",
                                           "LOGNAME=u",
                                           "AGENT_TOKEN=s3cret",
                                           "__CF_USER_TEXT_ENCODING=0x1F5:0x0:0x0"};
    CommandSettings settings;
    settings.searchPath = "/p";
    EXPECT_EQ(settings.ToolEnvironment(host),
              (std::vector<std::string>{"LANG=en_US.UTF-8", "HOME=/root", "LC_ALL=C", "TMPDIR=/t",
                                        "USER=u", "LOGNAME=u",
                                        "__CF_USER_TEXT_ENCODING=0x1F5:0x0:0x0", "PATH=/p"}));
}

}  // namespace
