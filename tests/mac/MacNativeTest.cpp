// What only a real Mac can show (CTest label mac: built everywhere, run by the
// macOS workflow on every runner): the runner's own fingerprint by every road
// to it, against the tools run directly, under Rosetta, and in the hosts that
// only the Mac's own rules could harm (xnu's SIGCHLD wakeups, libpthread's
// cancellation, dyld's rule for hardened programs, BSD grep's GREP_OPTIONS).
//
// On an Intel Mac the fingerprint comes from its SMBIOS table and the call
// runs no tool: the cases about the tools' processes run there with the table
// sources turned off (in this process, and in the test builds in testpath/
// through GRELLAN_TEST_WITHOUT_TABLE), so every runner proves the tool path.
// Cases whose expectation depends on the machine print a "mac-check:" line
// saying which case ran; the macOS workflow collects those lines.
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
#include "FirmwarePathsOverride.h"
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

// The test builds, which take GRELLAN_TEST_WITHOUT_TABLE at load time.
std::string TestBuild(const std::string& file) {
    return std::string(GRELLAN_BUILD_DIR) + "/testpath/" + file;
}
const std::string kWithoutTable = "GRELLAN_TEST_WITHOUT_TABLE=1 ";

// A line for the workflow's log: which case of a machine-dependent check ran.
void Say(const std::string& what) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::printf("mac-check: %s.%s: %s\n", test->test_suite_name(), test->name(), what.c_str());
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

// The fingerprint of the tool path: the call in this process with the table
// sources off (on Apple silicon, where there is no table, the same call).
std::string ToolPathFingerprint() {
    const platform::ScopedFirmwarePaths tablesOff(platform::WithoutTableSources());
    return Fingerprint();
}

// Says, on a Mac with a table, that a case runs the tool path by the seam.
void SayWhichPath() {
    Say(HasTable() ? "this Mac has an SMBIOS table: the tool path runs with the table sources off"
                   : "no SMBIOS table: the tool path is this Mac's own");
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
    bool toolPath;       // the command runs a test build with the table sources off
};

class Road : public ::testing::TestWithParam<RoadCase> {};

TEST_P(Road, GivesTheFingerprintOfTheCallInThisProcess) {
    const std::string expected = GetParam().toolPath ? ToolPathFingerprint() : Fingerprint();
    ASSERT_TRUE(IsFingerprint(expected)) << "GetHardwareHash gave \"" << expected << "\"";
    const ProcessResult run = RunShell(GetParam().command);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(LineAfter(run.output, GetParam().prefix), expected) << run.output;
}

// The C host in `mode` over the shipped library, or over the test build with
// the table sources off.
std::string Host(const std::string& mode, bool toolPath = false) {
    return (toolPath ? kWithoutTable : std::string()) + Quote(GRELLAN_MAC_HOST) + " " + mode + " " +
           Quote(toolPath ? TestBuild("libgrellan.dylib") : Bin("libgrellan.dylib"));
}

// The hostile environments only matter to the tools, so those roads take the
// tool path on every Mac.
INSTANTIATE_TEST_SUITE_P(
    MacNative, Road,
    ::testing::Values(
        RoadCase{"Probe", Quote(Bin("grellanprobe")), "", false},
        RoadCase{"Inspector", Quote(Bin("grellaninspect")), "fingerprint: ", false},
        RoadCase{"CHost", Host("plain"), "", false},
        // BSD grep puts GREP_OPTIONS in front of its arguments (text_cmds
        // grep/grep.c): the host's must not reach the tools.
        RoadCase{"ProbeWithGrepOptions",
                 "GREP_OPTIONS=-n " + kWithoutTable + Quote(TestBuild("grellanprobe")), "", true},
        RoadCase{"CHostWithHostileEnvironment",
                 "GREP_OPTIONS=-v POSIXLY_CORRECT=1 CDPATH=/ " + Host("plain", true), "", true},
        // What the tools and the registry gave this Mac, captured and replayed
        // elsewhere: the real report, registry dump and mlb-serial-number.
        RoadCase{"CaptureReplayed",
                 kWithoutTable + Quote(TestBuild("grellaninspect")) + " --snapshot | " +
                     Quote(Bin("grellaninspect")) + " --from-snapshot -",
                 "fingerprint: ", true}),
    grellan::testing::CaseName());

// The shipped inspector names the registry's table on an Intel Mac and the
// tools on Apple silicon; the test build with the table sources off names
// the tools on both.
TEST(MacNative, InspectorNamesTheSourceItUsed) {
    const std::string kSourceLine = "source:      ";
    const std::string kTools = "fallback tools (system_profiler, ioreg, I/O Kit registry)";
    const std::string source =
        LineAfter(RunShell(Quote(Bin("grellaninspect"))).output, kSourceLine);
    Say("grellaninspect names the source: " + source);
    EXPECT_EQ(source, HasTable() ? "registry table (AppleSMBIOS)" : kTools);
#if defined(__aarch64__)
    EXPECT_FALSE(HasTable()) << "Apple silicon has no SMBIOS table";
#endif
    EXPECT_EQ(
        LineAfter(RunShell(kWithoutTable + Quote(TestBuild("grellaninspect"))).output, kSourceLine),
        kTools);
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
    SayWhichPath();
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
    EXPECT_EQ(ToolPathFingerprint(),
              grellan::testing::ReferenceMd5(direct.chassis + direct.system + direct.baseboard +
                                             direct.processor));
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
    SayWhichPath();
    const std::string expected = ToolPathFingerprint();
    const Clock::time_point start = Clock::now();
    const ProcessResult run = RunShell(Host(GetParam().mode, true));
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
    SayWhichPath();
    const platform::ScopedFirmwarePaths tablesOff(platform::WithoutTableSources());
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

// System Integrity Protection's state as `csrutil status` words it
// ("enabled.", "disabled.", or a custom configuration such as "unknown
// (Custom Configuration)."), read once.
const std::string& SipStatus() {
    static const std::string status =
        LineAfter(RunShell("csrutil status 2>&1").output, "System Integrity Protection status: ");
    return status;
}

// dyld refuses a relative path in a program with the hardened runtime only
// while the code-signing policy withholds its path variables
// (apple-oss-distributions/dyld, dyld/Loader.cpp: "relative path not allowed
// in hardened program" when !allowEnvVarsPath; dyld/DyldProcessConfig.cpp
// takes that flag from AMFI), and with SIP off the hardened runtime's
// protections are not applied: the runner images run with SIP off. So the
// refusal is expected only with SIP on; what holds either way is that the
// probe hands dlopen an absolute path (dyld logs each dlopen's path as given
// under DYLD_PRINT_APIS, DyldAPIs.cpp, for a program without the hardened
// runtime) and that a hardened probe started as ./grellanprobe prints the
// fingerprint. The hardened runtime also turns on library validation, which
// refuses a library without the program's Team ID, and an ad hoc signature
// carries none: the hardened programs here are given
// com.apple.security.cs.disable-library-validation, so that dyld's path rule
// is what they meet.
enum class Expect {
    Fingerprint,          // status 0, the fingerprint
    AbsoluteDlopenPath,   // dyld's log names an absolute path for the library
    RelativePathRefused,  // with SIP on; otherwise whichever outcome, consistent
};

struct HardenedCase {
    const char* name;
    const char* invocation;  // from the directory above bin/
    Expect expect;
};

class HardenedRuntime : public ::testing::TestWithParam<HardenedCase> {};

// The path of the first `dlopen("PATH", ...)` that dyld logged for the library.
std::string DlopenPath(const std::string& log) {
    const std::string marker = "dlopen(\"";
    for (std::size_t at = log.find(marker); at != std::string::npos;
         at = log.find(marker, at + 1)) {
        const std::size_t start = at + marker.size();
        const std::string path = log.substr(start, log.find('"', start) - start);
        if (fs::path(path).filename() == "libgrellan.dylib") {
            return path;
        }
    }
    return "(no dlopen of libgrellan.dylib in dyld's log)";
}

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
    fs::copy_file(Bin("grellanprobe"), bin + "plain_probe");
    const std::string entitlements = dir.Write(
        "entitlements.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>com.apple.security.cs.disable-library-validation</key><true/></dict></plist>\n");
    const ProcessResult sign =
        RunShell("cd " + Quote(bin) + " && codesign -f -s - libgrellan.dylib plain_probe 2>&1 && " +
                 "codesign -f -s - --options runtime --entitlements " + Quote(entitlements) +
                 " grellanprobe mac_host 2>&1 && codesign -d -v grellanprobe 2>&1");
    ASSERT_EQ(sign.status, 0) << sign.output;
    ASSERT_NE(sign.output.find("runtime"), std::string::npos) << sign.output;

    const ProcessResult run =
        RunShell("cd " + Quote(dir.Path()) + " && " + GetParam().invocation + " 2>&1");
    const bool refused =
        run.status == 1 &&
        run.output.find("relative path not allowed in hardened program") != std::string::npos;
    switch (GetParam().expect) {
        case Expect::Fingerprint:
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.output, Fingerprint() + "\n");
            break;
        case Expect::AbsoluteDlopenPath:
            Say("the probe hands dlopen " + DlopenPath(run.output));
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_EQ(DlopenPath(run.output).rfind('/', 0), 0U) << run.output;
            break;
        case Expect::RelativePathRefused:
            Say("SIP " + SipStatus() + " the host's dlopen(\"./libgrellan.dylib\") " +
                (refused ? "was refused" : "exited " + std::to_string(run.status)));
            if (SipStatus() == "enabled.") {
                EXPECT_TRUE(refused) << run.output;
            } else if (!refused) {
                // No path rule in force: the host loads the library like any other.
                EXPECT_EQ(run.status, 0) << run.output;
                EXPECT_EQ(run.output, Fingerprint() + "\n");
            }
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MacNative, HardenedRuntime,
    ::testing::Values(
        HardenedCase{"ProbeStartedFromItsDirectory", "cd bin && ./grellanprobe",
                     Expect::Fingerprint},
        HardenedCase{"ProbeStartedFromAbove", "bin/grellanprobe", Expect::Fingerprint},
        // The same probe without the hardened runtime, whose dyld honours DYLD_PRINT_APIS.
        HardenedCase{"ProbeHandsDlopenAnAbsolutePath", "cd bin && DYLD_PRINT_APIS=1 ./plain_probe",
                     Expect::AbsoluteDlopenPath},
        HardenedCase{"HostOpeningARelativePath", "cd bin && ./mac_host plain ./libgrellan.dylib",
                     Expect::RelativePathRefused}),
    grellan::testing::CaseName());

}  // namespace
