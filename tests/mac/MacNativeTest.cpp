// What only a real Mac can show (CTest label mac: built everywhere, run by the
// macOS workflow on every runner): the runner's own fingerprint by every road
// to it, against the tools run directly, under Rosetta, and in the hosts that
// only the Mac's own rules could harm (xnu's SIGCHLD wakeups, libpthread's
// cancellation, dyld's rule for hardened programs, BSD grep's GREP_OPTIONS).
//
// On an Intel Mac the fingerprint comes from its SMBIOS table and the call
// runs no tool: the cases about the tools' processes are skipped there,
// saying so; the comparison with the tools run directly covers the fallback
// serials alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "Processes.h"
#include "ScopedEnvironment.h"
#include "TempDir.h"
#include "business/SerialComputation.h"
#include "grellan/grellan.h"
#include "smbios/SmBios.h"

namespace {

namespace fs = std::filesystem;
namespace platform = tirsel::kvl::agent::driver::platform;
using grellan::testing::FakeMacTools;
using grellan::testing::ProcessResult;
using grellan::testing::ReadFile;
using grellan::testing::RunShell;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::business::HardwareSerials;
using tirsel::kvl::agent::driver::business::SerialComputation;
using Clock = std::chrono::steady_clock;

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

std::string Bin(const std::string& file) {
    return std::string(GRELLAN_BUILD_DIR) + "/bin/" + file;
}

std::string Fingerprint() {
    char buffer[33];
    GetHardwareHash(buffer, sizeof buffer);
    return buffer;
}

bool IsFingerprint(const std::string& text) {
    return std::regex_match(text, std::regex("[0-9a-f]{32}"));
}

// Whether this Mac has an SMBIOS table (an Intel Mac): then the call runs no tool.
bool HasTable() {
    return tirsel::kvl::agent::driver::smbios::SmBios().loaded;
}

// The first line of `output` that starts with `prefix`, without it.
std::string LineAfter(const std::string& output, const std::string& prefix) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return line.substr(prefix.size());
        }
    }
    return "(no line starting with \"" + prefix + "\")";
}

// Every road to the fingerprint gives what the call in this process gives.
struct RoadCase {
    const char* name;
    std::string command;
    const char* prefix;  // of the line holding the fingerprint
};

class Road : public ::testing::TestWithParam<RoadCase> {};

TEST_P(Road, GivesTheFingerprintOfTheCallInThisProcess) {
    const std::string expected = Fingerprint();
    ASSERT_TRUE(IsFingerprint(expected)) << "GetHardwareHash gave \"" << expected << "\"";
    const ProcessResult run = RunShell(GetParam().command);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(LineAfter(run.output, GetParam().prefix), expected) << run.output;
}

std::string Host(const std::string& mode) {
    return Quote(GRELLAN_MAC_HOST) + " " + mode + " " + Quote(Bin("libgrellan.dylib"));
}

INSTANTIATE_TEST_SUITE_P(
    MacNative, Road,
    ::testing::Values(RoadCase{"Probe", Quote(Bin("grellanprobe")), ""},
                      RoadCase{"Inspector", Quote(Bin("grellaninspect")), "fingerprint: "},
                      RoadCase{"CHost", Host("plain"), ""},
                      // BSD grep puts GREP_OPTIONS in front of its arguments (text_cmds
                      // grep/grep.c): the host's must not reach the tools.
                      RoadCase{"ProbeWithGrepOptions",
                               "GREP_OPTIONS=-n " + Quote(Bin("grellanprobe")), ""},
                      RoadCase{"CHostWithHostileEnvironment",
                               "GREP_OPTIONS=-v POSIXLY_CORRECT=1 CDPATH=/ " + Host("plain"), ""}),
    grellan::testing::CaseName());

TEST(MacNative, InspectorNamesTheSourceItUsed) {
    const std::string source =
        LineAfter(RunShell(Quote(Bin("grellaninspect"))).output, "source:      ");
    std::printf("grellaninspect names the source: %s\n", source.c_str());
    EXPECT_EQ(source, HasTable() ? "registry table (AppleSMBIOS)"
                                 : "fallback tools (system_profiler, ioreg, I/O Kit registry)");
#if defined(__aarch64__)
    EXPECT_FALSE(HasTable()) << "Apple silicon has no SMBIOS table";
#endif
}

// Field 1 of a command's output split at ':', trimmed: the value of a
// system_profiler line.
std::string ValueField(const std::string& output) {
    const std::size_t first = output.find(':');
    if (first == std::string::npos) {
        return std::string();
    }
    const std::size_t next = output.find(':', first + 1);
    std::string field =
        output.substr(first + 1, next == std::string::npos ? next : next - first - 1);
    const char* const blanks = " \t\n\v\f\r";
    field.erase(field.find_last_not_of(blanks) + 1);
    field.erase(0, field.find_first_not_of(blanks));
    return field;
}

// The bytes of the first `"key" = <hex>` that `ioreg -x` prints.
std::string RegistryData(const std::string& command, const std::string& key) {
    const std::string output = RunShell(command).output;
    const std::string marker = "\"" + key + "\" = <";
    const std::size_t at = output.find(marker);
    if (at == std::string::npos) {
        return std::string();
    }
    std::string bytes;
    const std::size_t end = output.find('>', at);
    for (std::size_t i = at + marker.size(); i + 1 < end; i += 2) {
        bytes += static_cast<char>(std::stoi(output.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// The serials as the library's commands give them run directly by this
// process, with the runner's whole environment. The chip identifier and the
// board serial are read from ioreg's text form (-x: data always in hex).
HardwareSerials DirectSerials() {
    HardwareSerials serials;
    serials.system = ValueField(
        RunShell("system_profiler SPHardwareDataType | grep -E -i \"Serial\\sNumber\"").output);
    serials.chassis = serials.system;
    std::string chip;
    for (const char byte :
         RegistryData("ioreg -x -l -p IODeviceTree -c IORegistryEntry", "unique-chip-id")) {
        if (byte >= 0x20 && byte <= 0x7e) {
            chip += byte;
        }
    }
    serials.processor =
        ValueField(
            RunShell("system_profiler SPHardwareDataType | grep -E -i \"Chip|Processor\\sName\"")
                .output) +
        " " + chip;
    const std::string board =
        RegistryData("ioreg -x -r -d 1 -c IOPlatformExpertDevice", "mlb-serial-number");
    serials.baseboard = board.substr(0, board.find('\0'));
    return serials;
}

// The tools see only the allowed environment; run directly with the runner's
// whole one they give the same serials, whatever the host's GREP_OPTIONS.
struct EnvironmentCase {
    const char* name;
    const char* grepOptions;  // null: the runner's environment as it is
};

class ToolsRunDirectly : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(ToolsRunDirectly, GiveTheSerialsAndFingerprintOfTheLibrary) {
    const HardwareSerials direct = DirectSerials();
    std::optional<grellan::testing::ScopedEnvironment> hostile;
    if (GetParam().grepOptions != nullptr) {
        hostile.emplace("GREP_OPTIONS", GetParam().grepOptions);
    }
    const HardwareSerials library = SerialComputation::OfFallbackTools().Serials();
    EXPECT_EQ(library.chassis, direct.chassis);
    EXPECT_EQ(library.system, direct.system);
    EXPECT_EQ(library.baseboard, direct.baseboard);
    EXPECT_EQ(library.processor, direct.processor);
    if (!HasTable()) {
        EXPECT_EQ(Fingerprint(),
                  grellan::testing::ReferenceMd5(direct.chassis + direct.system + direct.baseboard +
                                                 direct.processor));
    }
}

INSTANTIATE_TEST_SUITE_P(MacNative, ToolsRunDirectly,
                         ::testing::Values(EnvironmentCase{"RunnerEnvironment", nullptr},
                                           EnvironmentCase{"GrepOptionsNumbering", "-n"},
                                           EnvironmentCase{"GrepOptionsInverting", "-v"},
                                           EnvironmentCase{"GrepOptionsCounting", "-c"}),
                         grellan::testing::CaseName());

TEST(MacNative, RosettaRunsTheUniversalProbesIntelSliceToTheSameFingerprint) {
    if (RunShell("sysctl -n hw.optional.arm64 2>/dev/null").output != "1\n") {
        GTEST_SKIP() << "not Apple silicon: no Rosetta to run the x86_64 slice";
    }
    if (RunShell("arch -x86_64 /usr/bin/true").status != 0) {
        GTEST_SKIP() << "Rosetta is not installed (softwareupdate --install-rosetta)";
    }
    const std::string probe =
        std::string(GRELLAN_SOURCE_DIR) + "/build-macos-universal/bin/grellanprobe";
    if (!fs::exists(probe)) {
        GTEST_SKIP() << "no universal probe: cmake --workflow --preset macos-universal";
    }
    const ProcessResult native = RunShell("arch -arm64 " + Quote(probe));
    const ProcessResult rosetta = RunShell("arch -x86_64 " + Quote(probe));
    EXPECT_EQ(native.status, 0) << native.output;
    EXPECT_EQ(native.output, Fingerprint() + "\n");
    EXPECT_EQ(rosetta.status, 0) << rosetta.output;
    EXPECT_EQ(rosetta.output, native.output);
}

// xnu wakes a parent whose SIGCHLD is ignored (or SA_NOCLDWAIT) from wait4
// only when its last child is gone (bsd/kern/kern_exit.c,
// reap_child_locked): a host with another child alive still gets its answer,
// within one command's bound.
struct SigchldCase {
    const char* name;
    const char* mode;
};

class SigchldHost : public ::testing::TestWithParam<SigchldCase> {};

TEST_P(SigchldHost, WithAnotherChildAliveGetsItsAnswer) {
    if (HasTable()) {
        GTEST_SKIP() << "this Mac has an SMBIOS table: the call runs no tool";
    }
    const std::string expected = Fingerprint();
    const Clock::time_point start = Clock::now();
    const ProcessResult run = RunShell(Host(GetParam().mode));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, expected + "\n");
}

INSTANTIATE_TEST_SUITE_P(MacNative, SigchldHost,
                         ::testing::Values(SigchldCase{"SigchldIgnored", "ignore"},
                                           SigchldCase{"NoChildWait", "nocldwait"}),
                         grellan::testing::CaseName());

int OpenDescriptors() {
    int count = 0;
    for (int fd = 0; fd < getdtablesize(); ++fd) {
        count += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
    }
    return count;
}

void* CallOnThread(void*) {
    Fingerprint();
    return nullptr;
}

// macOS's pthread_cancel runs no C++ destructor (libpthread, _pthread_exit):
// the call is no cancellation point, so a thread cancelled inside it
// finishes the call, then ends cancelled, leaving no descriptor and no tool.
TEST(MacNative, CancelledThreadFinishesTheCallAndLeavesNoDescriptor) {
    if (HasTable()) {
        GTEST_SKIP() << "this Mac has an SMBIOS table: the call runs no tool";
    }
    const FakeMacTools tools;
    const TempDir dir;
    const std::string pids = dir.Path() + "/pids";
    const std::string finished = dir.Path() + "/finished";
    // The first report takes two seconds; the thread is cancelled one second in.
    tools.SetScript("system_profiler", "echo $$ >> '" + pids + "'\nif [ ! -e '" + finished +
                                           "' ]; then sleep 2; echo yes > '" + finished +
                                           "'; fi\ncat <<'EOF'\n" +
                                           FakeMacTools::HardwareReport({}) + "EOF\n");
    const platform::ScopedCommandSettings commands(tools.Directory());
    const int before = OpenDescriptors();
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, CallOnThread, nullptr), 0);
    ASSERT_TRUE(grellan::testing::WaitForFile(pids));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_EQ(pthread_cancel(thread), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_EQ(ReadFile(finished), "yes\n") << "the call was cut short";
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(grellan::testing::NoChildLeft());
    EXPECT_TRUE(grellan::testing::AllGone(ReadFile(pids))) << ReadFile(pids);
}

// dyld refuses relative paths in a program with the hardened runtime (dyld,
// Loader.cpp: "relative path not allowed in hardened program"). Signed ad hoc
// with the hardened runtime and started by a relative path, the probe still
// loads its library. The hardened runtime also turns on library validation,
// which refuses a library without the program's Team ID, and an ad hoc
// signature carries none: the programs here are given
// com.apple.security.cs.disable-library-validation, so that dyld's path rule
// is what they meet. The C host opening "./libgrellan.dylib" shows that it is
// in force.
struct HardenedCase {
    const char* name;
    const char* invocation;  // from the directory above bin/
    bool loads;
};

class HardenedRuntime : public ::testing::TestWithParam<HardenedCase> {};

TEST_P(HardenedRuntime, ProbeLoadsItsLibraryByAnAbsolutePath) {
    if (RunShell("command -v codesign").status != 0) {
        GTEST_SKIP() << "no codesign";
    }
    const TempDir dir;
    const std::string bin = dir.Path() + "/bin/";
    fs::create_directory(bin);
    for (const std::string& file :
         {Bin("grellanprobe"), Bin("libgrellan.dylib"), std::string(GRELLAN_MAC_HOST)}) {
        fs::copy_file(file, bin + fs::path(file).filename().string());
    }
    const std::string entitlements = dir.Write(
        "entitlements.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>com.apple.security.cs.disable-library-validation</key><true/></dict></plist>\n");
    const ProcessResult sign =
        RunShell("cd " + Quote(bin) + " && codesign -f -s - libgrellan.dylib 2>&1 && " +
                 "codesign -f -s - --options runtime --entitlements " + Quote(entitlements) +
                 " grellanprobe mac_host 2>&1 && codesign -d -v grellanprobe 2>&1");
    ASSERT_EQ(sign.status, 0) << sign.output;
    ASSERT_NE(sign.output.find("runtime"), std::string::npos) << sign.output;

    const ProcessResult run =
        RunShell("cd " + Quote(dir.Path()) + " && " + GetParam().invocation + " 2>&1");
    if (GetParam().loads) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, Fingerprint() + "\n");
    } else {
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find("relative path not allowed in hardened program"),
                  std::string::npos)
            << run.output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MacNative, HardenedRuntime,
    ::testing::Values(HardenedCase{"ProbeStartedFromItsDirectory", "cd bin && ./grellanprobe",
                                   true},
                      HardenedCase{"ProbeStartedFromAbove", "bin/grellanprobe", true},
                      HardenedCase{"HostOpeningARelativePathIsRefused",
                                   "cd bin && ./mac_host plain ./libgrellan.dylib", false}),
    grellan::testing::CaseName());

}  // namespace
