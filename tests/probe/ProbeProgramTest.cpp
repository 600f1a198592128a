#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "FakeMacTools.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using grellan::testing::FakeMacTools;
using grellan::testing::ProcessResult;
using grellan::testing::ReferenceMd5;
using grellan::testing::RunShell;
using grellan::testing::TempDir;

std::string BinDir() {
    return std::string(GRELLAN_BUILD_DIR) + "/bin";
}

// The library's test build, which takes its tool search path from
// GRELLAN_TEST_SEARCH_PATH (the shipped one never leaves its fixed path).
std::string TestPathLibrary() {
    return std::string(GRELLAN_BUILD_DIR) + "/testpath/libgrellan.dylib";
}

void CopyInto(const std::string& from, const std::string& dir, const std::string& name) {
    fs::copy_file(from, dir + "/" + name, fs::copy_options::overwrite_existing);
}

// The fingerprint the fake tools' machine must give, from the pieces it reports.
std::string ExpectedFallbackHash() {
    const FakeMacTools::Machine machine;
    // Chassis and system are the same serial; no board serial in an empty
    // registry; the processor is the name, a blank and the decoded chip id.
    return ReferenceMd5(machine.serial + machine.serial + machine.processorName + " ABCD");
}

bool MemoryDevicePresent() {
    return fs::exists("/dev/mem");
}

class ProbeProgram : public ::testing::Test {
protected:
    void SetUp() override { CopyInto(BinDir() + "/grellanprobe", dir.Path(), "grellanprobe"); }

    // Runs the copied probe from the temporary directory with `path` as PATH,
    // and the fake tools on the test build's search path.
    ProcessResult Run(const std::string& path, const std::string& invocation = "./grellanprobe") {
        return RunShell("cd '" + dir.Path() + "' && PATH='" + path +
                        "' GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() + ":/usr/bin:/bin' " +
                        invocation);
    }

    TempDir dir;
    FakeMacTools tools;
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

// The loader's reason goes to standard error; standard output and the status
// stay as they are.
TEST_F(ProbeProgram, LoadFailureNamesTheLoadersReasonOnStandardError) {
    struct Case {
        std::string library;  // content of libgrellan.dylib; none when empty
        std::string reason;
    };
    for (const Case& c :
         {Case{"", "No such file or directory"}, Case{"not a shared object", "file too short"}}) {
        if (!c.library.empty()) {
            dir.Write("libgrellan.dylib", c.library);
        }
        const ProcessResult out = Run("/usr/bin:/bin", "./grellanprobe 2>/dev/null");
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(out.output, "unable to load ./libgrellan.dylib Library!\n");
        const ProcessResult err = Run("/usr/bin:/bin", "./grellanprobe 2>&1 >/dev/null");
        // The loader names the path it was given: the absolute one.
        EXPECT_EQ(err.output.rfind("grellanprobe: " + dir.Path() + "/./libgrellan.dylib: ", 0), 0U)
            << err.output;
        EXPECT_NE(err.output.find(c.reason), std::string::npos) << err.output;
    }
}

TEST_F(ProbeProgram, LibraryWithoutTheExportExitsTwo) {
    CopyInto(GRELLAN_NOEXPORT_LIBRARY, dir.Path(), "libgrellan.dylib");
    const ProcessResult result = Run("/usr/bin:/bin");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.output, "unable to load ./libgrellan.dylib GetHardwareHash function!\n");
}

TEST_F(ProbeProgram, PrintsTheFingerprintOfTheFallbackTools) {
    if (MemoryDevicePresent()) {
        GTEST_SKIP() << "/dev/mem exists: the probe would scan real memory";
    }
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    const ProcessResult result = Run("/usr/bin:/bin");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, ExpectedFallbackHash() + "\n");
}

// dyld refuses a relative path in a program with the hardened runtime, so
// the loader is handed the path made absolute; the printed lines keep the
// invocation's path. glibc's loader shows what it was given (LD_DEBUG).
TEST_F(ProbeProgram, StartedFromItsDirectoryLoadsByAnAbsolutePath) {
    if (MemoryDevicePresent()) {
        GTEST_SKIP() << "/dev/mem exists: the probe would scan real memory";
    }
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
    if (MemoryDevicePresent()) {
        GTEST_SKIP() << "/dev/mem exists: the probe would scan real memory";
    }
    CopyInto(BinDir() + "/libgrellan.dylib", dir.Path(), "libgrellan.dylib");
    // The shipped library finds no ioreg on its fixed search path, and the
    // fake one first on the host's PATH is not used: no fingerprint.
    const ProcessResult result = Run(tools.Directory() + ":/usr/bin:/bin");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "unable to compute hardware hash!\n");
}

TEST_F(ProbeProgram, StartedThroughTheSearchPathFindsTheLibraryBesideItself) {
    if (MemoryDevicePresent()) {
        GTEST_SKIP() << "/dev/mem exists: the probe would scan real memory";
    }
    CopyInto(TestPathLibrary(), dir.Path(), "libgrellan.dylib");
    // Run from another directory, so only the executable's own directory works.
    TempDir elsewhere;
    const ProcessResult result = RunShell("cd '" + elsewhere.Path() + "' && PATH='" + dir.Path() +
                                          ":/usr/bin:/bin' GRELLAN_TEST_SEARCH_PATH='" +
                                          tools.Directory() + ":/usr/bin:/bin' grellanprobe");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, ExpectedFallbackHash() + "\n");
}

TEST(ProbeInstall, InstalledProbeRunsBesideTheInstalledLibrary) {
    if (MemoryDevicePresent()) {
        GTEST_SKIP() << "/dev/mem exists: the probe would scan real memory";
    }
    TempDir prefix;
    const ProcessResult install =
        RunShell(std::string("'") + GRELLAN_CMAKE_COMMAND + "' --install '" + GRELLAN_BUILD_DIR +
                 "' --prefix '" + prefix.Path() + "' >/dev/null 2>&1; echo $?");
    ASSERT_EQ(install.output, "0\n");
    EXPECT_TRUE(fs::exists(prefix.Path() + "/bin/libgrellan.dylib"));
    EXPECT_TRUE(fs::exists(prefix.Path() + "/include/grellan/grellan.h"));
    // The installed library searches its fixed path only: the fake tools first
    // on the host's PATH are not run, and no fingerprint comes out here.
    FakeMacTools tools;
    const ProcessResult result = RunShell("PATH='" + tools.Directory() + ":/usr/bin:/bin' '" +
                                          prefix.Path() + "/bin/grellanprobe'");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "unable to compute hardware hash!\n");

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
    EXPECT_EQ(hosted.status, 3);  // loaded, bound and called: no fingerprint here
    EXPECT_EQ(hosted.output, "\n");
}

}  // namespace
