// GetHardwareHash as a host sees it when the fallback tools misbehave: every
// failed command gives "no fingerprint" within the time bound plus a second,
// and nothing of the tools stays behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "HostPeak.h"
#include "Processes.h"
#include "RegistryDumps.h"
#include "RegistryStandIn.h"
#include "ScopedEnvironment.h"
#include "TempDir.h"
#include "business/HwHashCalculator.h"
#include "grellan/grellan.h"

namespace {

using grellan::testing::FakeMacTools;
using grellan::testing::ReadFile;
using grellan::testing::TempDir;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;
using Clock = std::chrono::steady_clock;

std::string Fingerprint() {
    char buffer[33];
    GetHardwareHash(buffer, sizeof buffer);
    return buffer;
}

// The fingerprint of the fake tools' machine (no board serial in the registry).
std::string HealthyFingerprint() {
    const FakeMacTools::Machine machine;
    return grellan::testing::ReferenceMd5(machine.serial + machine.serial + machine.processorName +
                                          " ABCD");
}

// No table (no memory device, an empty registry): the fallback tools decide.
class HostSafety : public ::testing::Test {
protected:
    platform::CommandSettings Settings() const {
        platform::CommandSettings settings = platform::WithToolDirectory(tools.Directory());
        settings.timeLimit = std::chrono::milliseconds(1000);
        settings.outputLimit = std::size_t{1} << 20;
        return settings;
    }

    standin::ScopedRegistry registry;
    platform::ScopedFirmwarePaths paths{platform::WithoutMemoryDevice()};
    FakeMacTools tools;
    TempDir dir;
    const std::string pids = dir.Path() + "/pids";
};

// What the call gives: no fingerprint or the healthy machine's.
enum class Gives { Nothing, Healthy };

struct ToolCase {
    const char* name;
    const char* tool;
    std::string body;  // "PIDS" stands for a file the processes list themselves in
    Gives gives;
};

class MisbehavingTool : public HostSafety, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(MisbehavingTool, GivesNoFingerprintWithinTheBound) {
    const ToolCase& c = GetParam();
    std::string body = c.body;
    for (std::size_t at; (at = body.find("PIDS")) != std::string::npos;) {
        body.replace(at, 4, "'" + pids + "'");
    }
    if (!body.empty()) {
        tools.SetScript(c.tool, body);
    }
    const platform::ScopedCommandSettings commands(Settings());
    const FakeMacTools::Machine machine;
    const std::string expected =
        c.gives == Gives::Nothing ? ""
                                  : grellan::testing::ReferenceMd5(machine.serial + machine.serial +
                                                                   machine.processorName + " ABCD");

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Fingerprint(), expected);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_TRUE(grellan::testing::NoChildLeft());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, MisbehavingTool,
    ::testing::Values(
        ToolCase{"HealthyToolsGiveTheFingerprint", "ioreg", "", Gives::Healthy},
        ToolCase{"NeverExits", "system_profiler", "echo $$ >> PIDS; exec sleep 1000",
                 Gives::Nothing},
        ToolCase{"KilledBySignal", "ioreg", "kill -9 $$", Gives::Nothing},
        ToolCase{"ExitsWithAnError", "ioreg", "echo '<plist/>'; exit 2", Gives::Nothing},
        ToolCase{"NotFound", "ioreg", "exec grellan-no-such-tool", Gives::Nothing},
        ToolCase{"GrandchildHoldsItsOutput", "ioreg", "sleep 1000 & echo $! >> PIDS; echo x",
                 Gives::Nothing},
        ToolCase{"EndlessOutput", "ioreg", "echo $$ >> PIDS; exec yes", Gives::Nothing},
        // Reads /dev/null, not the host's input: an empty dump, parsed at once.
        ToolCase{"ReadsStandardInput", "ioreg", "cat", Gives::Nothing},
        // grep's "no match" must not hide a system_profiler that failed.
        ToolCase{"ReportToolKilledBySignal", "system_profiler", "kill -9 $$", Gives::Nothing},
        ToolCase{"ReportToolFailsSilently", "system_profiler", "exit 1", Gives::Nothing},
        ToolCase{"ReportToolFailsAfterItsLines", "system_profiler",
                 "echo '      Processor Name: 8-Core Intel Core i9'\n"
                 "echo '      Serial Number (system): C02XK0AAJGH5'\nexit 1",
                 Gives::Healthy},
        // Without the labelled lines, and no registry serial to stand in.
        ToolCase{"ReportWithoutTheLines", "system_profiler", "echo 'Hardware:'", Gives::Nothing}),
    grellan::testing::CaseName());

// The fallback's three commands run at the same time: a call takes about as
// long as its slowest tool, and a tool that fails or hangs ends the call
// without waiting for the others, whose processes are gone with it. Run one
// after the other, the first case took 1.08 s.
struct PaceCase {
    const char* name;
    std::string systemProfiler;  // what the tool does before printing its report
    std::string ioreg;           // ... its registry dump; "PIDS" as in ToolCase
    Gives gives;
    int withinMs;  // generous: the tools' own pace is the point
};

class Pace : public HostSafety, public ::testing::WithParamInterface<PaceCase> {};

TEST_P(Pace, TheCallTakesItsSlowestToolOrItsFirstFailure) {
    const PaceCase& c = GetParam();
    for (const auto& [tool, before] :
         {std::pair{"system_profiler", c.systemProfiler}, std::pair{"ioreg", c.ioreg}}) {
        std::string body = "echo $$ >> PIDS; " + before + "\nexec cat '" + tools.Directory() + "/" +
                           tool + ".out'";
        for (std::size_t at; (at = body.find("PIDS")) != std::string::npos;) {
            body.replace(at, 4, "'" + pids + "'");
        }
        tools.SetScript(tool, body);
    }
    const platform::ScopedCommandSettings commands(Settings());
    const std::string expected = c.gives == Gives::Healthy ? HealthyFingerprint() : "";

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Fingerprint(), expected);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(took.count(), c.withinMs);
    EXPECT_TRUE(grellan::testing::NoChildLeft());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
    std::printf("%s: %lld ms\n", c.name, static_cast<long long>(took.count()));
}

INSTANTIATE_TEST_SUITE_P(Tools, Pace,
                         ::testing::Values(PaceCase{"MacLikeDurations", "sleep 0.3", "sleep 0.15",
                                                    Gives::Healthy, 700},
                                           PaceCase{"FailingToolStopsTheOthers", "sleep 30",
                                                    "exit 3", Gives::Nothing, 500},
                                           PaceCase{"HangingToolStopsTheOthers", "exec sleep 1000",
                                                    "sleep 30", Gives::Nothing, 1500}),
                         grellan::testing::CaseName());

TEST_F(HostSafety, ShellThatCannotBeStartedGivesNoFingerprint) {
    platform::CommandSettings settings = Settings();
    settings.shell = dir.Path() + "/no-shell";
    const platform::ScopedCommandSettings commands(settings);
    EXPECT_EQ(Fingerprint(), "");
}

// 1 GB from the registry dump: the command is cut off at 64 MiB, and the
// host (a child process here, so its peak is its own) stays under 200 MB.
TEST_F(HostSafety, GigabyteOfOutputKeepsHostMemoryBounded) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's own memory would be measured";
#endif
    tools.SetScript("ioreg", "head -c 1000000000 /dev/zero | tr '\\0' x");
    const platform::ScopedCommandSettings commands(platform::WithToolDirectory(tools.Directory()));
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t host = fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        close(report[0]);
        const std::string hash = Fingerprint();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const std::string text = std::to_string(usage.ru_maxrss) + " [" + hash + "]";
        (void)!write(report[1], text.data(), text.size());
        _exit(0);
    }
    close(report[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(host, &status, 0), host);
    const long peakKiB = std::stol(text);
    EXPECT_LT(peakKiB, 200L * 1024) << text;
    EXPECT_NE(text.find(" []"), std::string::npos) << text;
    std::printf("host peak: %ld KiB\n", peakKiB);
}

// A valid registry dump just under the output bound: the host (a child
// process) peaks at less than four times the dump above where it stood.
TEST_F(HostSafety, LargeRegistryDumpKeepsHostPeakUnderFourTimesItsSize) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's own memory would be measured";
#endif
    std::size_t size = 0;
    {
        const std::string dump = grellan::testing::RealisticRegistryDump(std::size_t{57} << 20);
        size = dump.size();
        tools.SetRegistryDump(dump);
    }
    const platform::ScopedCommandSettings commands(platform::WithToolDirectory(tools.Directory()));
    const grellan::testing::HostRun run = grellan::testing::RunInHost(Fingerprint);
    if (run.peakBytes < 0) {
        GTEST_SKIP() << "no peak resident size on this system";
    }
    const FakeMacTools::Machine machine;
    // The dump's chip identifier decodes to no printable run.
    EXPECT_EQ(run.result, grellan::testing::ReferenceMd5(machine.serial + machine.serial +
                                                         machine.processorName + " "));
    EXPECT_LT(run.peakBytes, 4 * static_cast<long long>(size));
    std::printf("dump %zu bytes, host peak %lld bytes above its baseline (%.2f times)\n", size,
                run.peakBytes, static_cast<double>(run.peakBytes) / static_cast<double>(size));
}

// A host whose threads take signals through a handler without SA_RESTART
// (a profiler's timer, say): every interrupted call is resumed and no byte of
// output is lost. The line reader of popen dropped output here (about one
// command in ten under this storm), and with it a serial, silently.
TEST_F(HostSafety, SignalStormLosesNoOutput) {
    using tirsel::kvl::agent::driver::business::HwHashCalculator;
    const platform::ScopedCommandSettings commands(platform::WithToolDirectory(tools.Directory()));
    const std::string expected = HwHashCalculator().CalculateHwHash();
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    const itimerval storm{{0, 200}, {0, 200}};
    const itimerval off{};
    ASSERT_EQ(setitimer(ITIMER_REAL, &storm, nullptr), 0);

    std::atomic<int> differences{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                if (HwHashCalculator().CalculateHwHash() != expected) {
                    ++differences;
                }
            }
        });
    }
    // The signals go to the callers, not to this thread.
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    for (std::thread& caller : callers) {
        caller.join();
    }
    setitimer(ITIMER_REAL, &off, nullptr);
    pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);  // a pending one meets the handler
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(differences.load(), 0);
    EXPECT_TRUE(grellan::testing::NoChildLeft());
}

int OpenDescriptors() {
    int open = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        open += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
    }
    return open;
}

// pthread_cancel of a host thread one second into a call whose registry dump
// takes two: the call is not a cancellation point, so it runs to its end and
// writes the fingerprint, the cancel acts as it returns, and nothing of the
// call is left (no tool, no descriptor). The same on macOS, where a cancelled
// thread would not unwind the call's C++ frames.
TEST_F(HostSafety, CancelledThreadFinishesTheCallFirst) {
    tools.SetScript("ioreg", "echo $$ >> '" + pids + "'; sleep 2; exec cat '" + tools.Directory() +
                                 "/ioreg.out'");
    platform::CommandSettings settings = Settings();
    settings.timeLimit = std::chrono::milliseconds(20000);
    const platform::ScopedCommandSettings commands(settings);
    const FakeMacTools::Machine machine;
    const std::string healthy = grellan::testing::ReferenceMd5(machine.serial + machine.serial +
                                                               machine.processorName + " ABCD");
    const int descriptors = OpenDescriptors();

    static char buffer[33];
    std::memset(buffer, 'x', sizeof buffer);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, nullptr,
                  [](void*) -> void* {
                      GetHardwareHash(buffer, sizeof buffer);
                      return nullptr;
                  },
                  nullptr),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_FALSE(ReadFile(pids).empty());
    ASSERT_EQ(pthread_cancel(thread), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_EQ(std::string(buffer), healthy);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_TRUE(grellan::testing::NoChildLeft());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
}

// The tools get the host's locale, user and directories, nothing else: a
// host's GREP_OPTIONS, which macOS's grep puts in front of its arguments (the
// fake grep here does the same), would otherwise change the fingerprint.
TEST_F(HostSafety, ToolsSeeOnlyTheAllowedVariables) {
    const std::string seen = dir.Path() + "/environment";
    tools.SetScript("grep", "env > '" + seen + "'\nexec /bin/grep $GREP_OPTIONS \"$@\"");
    const platform::ScopedCommandSettings commands(Settings());
    const std::string clean = Fingerprint();
    using grellan::testing::ScopedEnvironment;
    const ScopedEnvironment grepOptions("GREP_OPTIONS", "-n");
    const ScopedEnvironment posix("POSIXLY_CORRECT", "1");
    const ScopedEnvironment cdpath("CDPATH", dir.Path());
    const ScopedEnvironment secret("GRELLAN_HOST_SECRET", "s3cret");
    const ScopedEnvironment locale("LC_ALL", "C");

    const FakeMacTools::Machine machine;
    EXPECT_EQ(clean, grellan::testing::ReferenceMd5(machine.serial + machine.serial +
                                                    machine.processorName + " ABCD"));
    EXPECT_EQ(Fingerprint(), clean);
    std::istringstream lines(ReadFile(seen));
    std::set<std::string> names;
    for (std::string line; std::getline(lines, line);) {
        names.insert(line.substr(0, line.find('=')));
    }
    // What the shell that runs the fake grep sets itself: PWD (dash, bash), and
    // bash's SHLVL and _.
    for (const char* own : {"PWD", "OLDPWD", "SHLVL", "_"}) {
        names.erase(own);
    }
    const std::set<std::string> allowed = {"HOME", "TMPDIR", "USER",   "LOGNAME",
                                           "LANG", "PATH",   "LC_ALL", "__CF_USER_TEXT_ENCODING"};
    EXPECT_TRUE(std::includes(allowed.begin(), allowed.end(), names.begin(), names.end()))
        << ReadFile(seen);
    EXPECT_EQ(names.count("LC_ALL"), 1U);
}

// A real host process per SIGCHLD set-up (tests/business/SignalHost.cpp):
// whoever reaps the shells, healthy tools give the fingerprint, and a hung
// tool is still bounded and killed.
struct SignalSetUpCase {
    const char* name;
    const char* mode;
    const char* busy = "";  // "busy": another child of the host's stays alive
};

class SignalSetUp : public ::testing::TestWithParam<SignalSetUpCase> {};

TEST_P(SignalSetUp, GivesTheFingerprintAndStillBoundsAHungTool) {
    if (access("/dev/mem", F_OK) == 0) {
        GTEST_SKIP() << "/dev/mem exists: the library would scan real memory";
    }
    const FakeMacTools tools;
    const TempDir dir;
    const std::string pids = dir.Path() + "/pids";
    const std::string host = "GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() +
                             ":/usr/bin:/bin' GRELLAN_TEST_TIME_LIMIT_MS=1000 '" +
                             GRELLAN_SIGNAL_HOST + "' " + GetParam().mode + " '" +
                             GRELLAN_TESTPATH_LIBRARY + "' " + GetParam().busy;
    const FakeMacTools::Machine machine;
    const std::string healthy = grellan::testing::ReferenceMd5(machine.serial + machine.serial +
                                                               machine.processorName + " ABCD");
    EXPECT_EQ(grellan::testing::RunShell(host).output, healthy + "\n");

    tools.SetScript("system_profiler", "echo $$ >> '" + pids + "'; exec sleep 1000");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(grellan::testing::RunShell(host).output, "\n");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    ASSERT_FALSE(ReadFile(pids).empty());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
}

// A host whose thread forks children without exec while four threads make
// five calls each (SignalHost's "forks"): the forks copy whatever descriptors
// the calls hold at that moment and keep them for 2 s. Every call still gives
// the fingerprint, and no tool and no descriptor of the calls is left. (When
// a call waited for every copy of its output's write end to close, 4 to 8 of
// the 20 answers here were "no fingerprint".)
TEST(ForkingHost, EveryCallGivesTheFingerprint) {
    if (access("/dev/mem", F_OK) == 0) {
        GTEST_SKIP() << "/dev/mem exists: the library would scan real memory";
    }
    const FakeMacTools tools;
    const TempDir dir;
    const std::string pids = dir.Path() + "/pids";
    for (const std::string tool : {"system_profiler", "ioreg"}) {
        tools.SetScript(tool, "echo $$ >> '" + pids + "'; exec cat '" + tools.Directory() + "/" +
                                  tool + ".out'");
    }
    std::string expected;
    for (int call = 0; call < 20; ++call) {
        expected += HealthyFingerprint() + "\n";
    }
    const std::string output =
        grellan::testing::RunShell("GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() +
                                   ":/usr/bin:/bin' '" + GRELLAN_SIGNAL_HOST + "' default '" +
                                   GRELLAN_TESTPATH_LIBRARY + "' forks")
            .output;
    const std::size_t last = output.find("descriptors ");
    ASSERT_NE(last, std::string::npos) << output;
    EXPECT_EQ(output.substr(0, last), expected);
    int before = -1;
    int after = -2;
    ASSERT_EQ(std::sscanf(output.c_str() + last, "descriptors %d %d", &before, &after), 2);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
}

INSTANTIATE_TEST_SUITE_P(
    HostSafety, SignalSetUp,
    ::testing::Values(SignalSetUpCase{"Default", "default"},
                      SignalSetUpCase{"SigchldIgnored", "ignore"},
                      SignalSetUpCase{"NoChildWait", "nocldwait"},
                      SignalSetUpCase{"SigchldIgnoredWithAnotherChild", "ignore", "busy"},
                      SignalSetUpCase{"NoChildWaitWithAnotherChild", "nocldwait", "busy"},
                      SignalSetUpCase{"HandlerReapsEveryChild", "handler"},
                      SignalSetUpCase{"ThreadReapsEveryChild", "reaper"}),
    [](const ::testing::TestParamInfo<SignalSetUpCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
