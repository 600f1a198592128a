#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "HardwareHash.h"
#include "MemoryImage.h"
#include "TableBuilder.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using grellan::testing::FakeMacTools;
using grellan::testing::MemoryImage;
using grellan::testing::ProcessResult;
using grellan::testing::ReferenceMd5;
using grellan::testing::RunShell;
using grellan::testing::TempDir;

std::string BinDir() {
    return std::string(GRELLAN_BUILD_DIR) + "/bin";
}

// The library's test build, which takes its tool search path from
// GRELLAN_TEST_SEARCH_PATH and its memory device from
// GRELLAN_TEST_MEMORY_DEVICE (the shipped one never leaves its fixed paths).
std::string TestPathLibrary() {
    return std::string(GRELLAN_BUILD_DIR) + "/testpath/libgrellan.dylib";
}

void CopyInto(const std::string& from, const std::string& dir, const std::string& name) {
    fs::copy_file(from, dir + "/" + name, fs::copy_options::overwrite_existing);
}

// The fingerprint the library gives in this process with the fake tools
// first and a blank memory image: no table on any machine, so the fake tools'
// machine, with whatever board serial the registry holds (none in the
// stand-in; GetHardwareHashTest pins that value).
std::string ExpectedFallbackHash() {
    const FakeMacTools tools;
    const TempDir memory;
    namespace platform = tirsel::kvl::agent::driver::platform;
    const platform::ScopedCommandSettings commands(tools.Directory());
    const platform::ScopedFirmwarePaths paths(platform::MemoryDeviceAt(MemoryImage().Save(memory)));
    const std::string hash = grellan::testing::HardwareHash();
    EXPECT_EQ(hash.size(), 32U);
    return hash;
}

class ProbeProgram : public ::testing::Test {
protected:
    void SetUp() override { CopyInto(BinDir() + "/grellanprobe", dir.Path(), "grellanprobe"); }

    // The test build's settings: `toolPath` as its search path and a blank
    // memory image, so it has no table on any machine.
    std::string TestBuildSettings(const std::string& toolPath) const {
        return "GRELLAN_TEST_SEARCH_PATH='" + toolPath + "' GRELLAN_TEST_MEMORY_DEVICE='" + memory +
               "' ";
    }

    // Runs the copied probe from the temporary directory with `path` as PATH,
    // and the fake tools on the test build's search path.
    ProcessResult Run(const std::string& path, const std::string& invocation = "./grellanprobe") {
        return RunShell("cd '" + dir.Path() + "' && PATH='" + path + "' " +
                        TestBuildSettings(tools.Directory() + ":/usr/bin:/bin") + invocation);
    }

    TempDir dir;
    FakeMacTools tools;
    TempDir images;
    const std::string memory = MemoryImage().Save(images);
};

TEST_F(ProbeProgram, MissingLibraryExitsOne) {
    const ProcessResult result = Run("/usr/bin:/bin");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "unable to load ./libgrellan.dylib Library!\n");
}

TEST_F(ProbeProgram, MissingLibraryByAbsolutePathNamesTheFullPath) {
    const ProcessResult result = Run("/usr/bin:/bin", "'" + dir.Path() + "/grellanprobe'");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "unable to load " + dir.Path() + "/libgrellan.dylib Library!\n");
}

// The loader's reason goes to standard error, one line naming the library
// in the loader's own words (glibc's and dyld's differ); standard output and
// the status stay as they are.
TEST_F(ProbeProgram, LoadFailureNamesTheLoadersReasonOnStandardError) {
    struct Case {
        const char* name;
        std::string library;  // content of libgrellan.dylib; none when empty
    };
    for (const Case& c : {Case{"missing", ""}, Case{"not a library", "not a shared object"}}) {
        SCOPED_TRACE(c.name);
        if (!c.library.empty()) {
            dir.Write("libgrellan.dylib", c.library);
        }
        const ProcessResult out = Run("/usr/bin:/bin", "./grellanprobe 2>/dev/null");
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(out.output, "unable to load ./libgrellan.dylib Library!\n");
        const ProcessResult err = Run("/usr/bin:/bin", "./grellanprobe 2>&1 >/dev/null");
        const std::string prefix = "grellanprobe: ";
        EXPECT_EQ(err.output.rfind(prefix, 0), 0U) << err.output;
        EXPECT_GT(err.output.size(), prefix.size() + 1) << err.output;
        EXPECT_EQ(err.output.find('\n'), err.output.size() - 1) << err.output;
        EXPECT_NE(err.output.find("./libgrellan.dylib"), std::string::npos) << err.output;
    }
}

TEST_F(ProbeProgram, LibraryWithoutTheExportExitsTwo) {
    CopyInto(GRELLAN_NOEXPORT_LIBRARY, dir.Path(), "libgrellan.dylib");
    const ProcessResult result = Run("/usr/bin:/bin");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.output, "unable to load ./libgrellan.dylib GetHardwareHash function!\n");
}

TEST_F(ProbeProgram, PrintsTheFingerprintOfTheFallbackTools) {
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    const ProcessResult result = Run("/usr/bin:/bin");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, ExpectedFallbackHash() + "\n");
}

// dyld refuses a relative path in a program with the hardened runtime, so
// the loader is handed the path made absolute; the printed lines keep the
// invocation's path. glibc's loader shows what it was given (LD_DEBUG).
TEST_F(ProbeProgram, StartedFromItsDirectoryLoadsByAnAbsolutePath) {
#if defined(__APPLE__)
    GTEST_SKIP() << "dyld does not show its paths this way; MacNativeTest starts a hardened probe";
#endif
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    const ProcessResult loads =
        Run("/usr/bin:/bin", "LD_DEBUG=files ./grellanprobe 2>&1 >/dev/null");
    // (Under AddressSanitizer its runtime is the one that calls dlopen.)
    EXPECT_NE(
        loads.output.find("file=" + dir.Path() + "/./libgrellan.dylib [0];  dynamically loaded"),
        std::string::npos)
        << loads.output;
    EXPECT_EQ(Run("/usr/bin:/bin").output, ExpectedFallbackHash() + "\n");
}

TEST_F(ProbeProgram, NoSourceAtAllReportsFailureWithStatusThree) {
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    const TempDir noTools;
    const ProcessResult result = RunShell("cd '" + dir.Path() + "' && " +
                                          TestBuildSettings(noTools.Path()) + "./grellanprobe");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "unable to compute hardware hash!\n");
}

// GRELLAN_TEST_WITHOUT_TABLE turns the test build's table sources off at load
// time: a machine with a table (here a memory image holding one; an Intel
// Mac's registry there, tests/mac) then takes the fallback path.
TEST_F(ProbeProgram, TestBuildWithoutTableSourcesIgnoresTheMachinesTable) {
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    const grellan::testing::Bytes table = grellan::testing::TableBuilder()
                                              .AddSerial(3, 0x0300, "CHS")
                                              .AddSerial(1, 0x0100, "SYS")
                                              .AddSerial(2, 0x0200, "MB")
                                              .AddSerial(4, 0x0400, "CPU")
                                              .AddEnd()
                                              .Table();
    const std::string withTable =
        MemoryImage().PutTable(0xF0000, 2, 8, 0xE0000, table).Save(images, "table");
    struct Case {
        const char* name;
        const char* environment;
        std::string expected;
    };
    for (const Case& c :
         {Case{"table sources on", "", ReferenceMd5("CHSSYSMBCPU")},
          Case{"table sources off", "GRELLAN_TEST_WITHOUT_TABLE=1 ", ExpectedFallbackHash()}}) {
        SCOPED_TRACE(c.name);
        const ProcessResult result =
            RunShell("cd '" + dir.Path() + "' && GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() +
                     ":/usr/bin:/bin' GRELLAN_TEST_MEMORY_DEVICE='" + withTable + "' " +
                     c.environment + "./grellanprobe");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, c.expected + "\n");
    }
}

// The shipped library searches its fixed path only: the fake tools first on
// the host's PATH change nothing (here no fingerprint; a Mac's own one there).
TEST_F(ProbeProgram, TheShippedLibraryIgnoresTheHostsPath) {
    CopyInto(BinDir() + "/libgrellan.dylib", dir.Path(), "libgrellan.dylib");
    const ProcessResult withFakes = Run(tools.Directory() + ":/usr/bin:/bin");
    const ProcessResult without = Run("/usr/bin:/bin");
    EXPECT_EQ(withFakes.output, without.output);
    EXPECT_EQ(withFakes.status, without.status);
    EXPECT_NE(withFakes.output, ExpectedFallbackHash() + "\n");
}

TEST_F(ProbeProgram, StartedThroughTheSearchPathFindsTheLibraryBesideItself) {
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    // Run from another directory, so only the executable's own directory works.
    TempDir elsewhere;
    const ProcessResult result =
        RunShell("cd '" + elsewhere.Path() + "' && PATH='" + dir.Path() + ":/usr/bin:/bin' " +
                 TestBuildSettings(tools.Directory() + ":/usr/bin:/bin") + "grellanprobe");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, ExpectedFallbackHash() + "\n");
}

TEST(ProbeInstall, InstalledProbeRunsBesideTheInstalledLibrary) {
    TempDir prefix;
    const ProcessResult install =
        RunShell(std::string("'") + GRELLAN_CMAKE_COMMAND + "' --install '" + GRELLAN_BUILD_DIR +
                 "' --prefix '" + prefix.Path() + "' >/dev/null 2>&1; echo $?");
    ASSERT_EQ(install.output, "0\n");
    EXPECT_TRUE(fs::exists(prefix.Path() + "/bin/libgrellan.dylib"));
    EXPECT_TRUE(fs::exists(prefix.Path() + "/include/grellan/grellan.h"));
    // The installed library searches its fixed path only: with the fake tools
    // first on the host's PATH the installed probe prints what the built one
    // prints without them (no fingerprint here; the machine's own on a Mac).
    FakeMacTools tools;
    const ProcessResult built = RunShell("PATH=/usr/bin:/bin '" + BinDir() + "/grellanprobe'");
    ASSERT_TRUE(built.status == 0 || built.status == 3) << built.output;
    const ProcessResult result = RunShell("PATH='" + tools.Directory() + ":/usr/bin:/bin' '" +
                                          prefix.Path() + "/bin/grellanprobe'");
    EXPECT_EQ(result.status, built.status);
    EXPECT_EQ(result.output, built.output);

    // A C host built against the installed header binds the function at run time.
    TempDir host;
    const std::string source = host.Write("host.c", R"(#include <dlfcn.h>
#include <stdio.h>
#include <grellan/grellan.h>
int main(int argc, char** argv) {
    (void)argc;
    void* lib = dlopen(argv[1], RTLD_LAZY);
    if (lib == NULL) return 1;
    GetHardwareHashFn get_hash = (GetHardwareHashFn)dlsym(lib, "GetHardwareHash");
    if (get_hash == NULL) return 2;
    char hash[33];
    get_hash(hash, (int)sizeof hash);
    printf("%s\n", hash);
    return hash[0] == '\0' ? 3 : 0;
}
)");
    const ProcessResult build =
        RunShell(std::string("'") + GRELLAN_C_COMPILER + "' -std=c99 -Wall -Wextra -Werror " +
                 GRELLAN_SANITIZE_FLAGS + " -I'" + prefix.Path() + "/include' '" + source +
                 "' -o '" + host.Path() + "/host' -ldl 2>&1");
    ASSERT_EQ(build.status, 0) << build.output;
    const ProcessResult hosted =
        RunShell("PATH='" + tools.Directory() + ":/usr/bin:/bin' '" + host.Path() + "/host' '" +
                 prefix.Path() + "/bin/libgrellan.dylib'");
    // Loaded, bound and called: the same fingerprint, or none.
    EXPECT_EQ(hosted.status, built.status);
    EXPECT_EQ(hosted.output, built.status == 0 ? built.output : "\n");
}

}  // namespace
