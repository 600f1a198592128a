#include <gtest/gtest.h>

#include <string>

#include "CaseName.h"
#include "FakeMacTools.h"
#include "MemoryImage.h"
#include "TableBuilder.h"
#include "TempDir.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::FakeMacTools;
using grellan::testing::MemoryImage;
using grellan::testing::ProcessResult;
using grellan::testing::RunShell;
using grellan::testing::TableBuilder;
using grellan::testing::TempDir;

const std::string kExamples = std::string(GRELLAN_SOURCE_DIR) + "/examples";
const std::string kTestPath = std::string(GRELLAN_BUILD_DIR) + "/testpath";

// The machine the test build of the library sees: its tool search path and
// its memory device, set at load time.
struct Machine {
    const char* name;
    bool tools;  // the fake macOS tools on the search path
    bool table;  // an SMBIOS table in the memory image
};

const Machine kMachines[] = {
    {"fallback tools", true, false},
    {"table in memory", false, true},
    {"no source", false, false},
};

// An example host: the command that runs it with the library's path as its
// one argument, built first where it needs building.
struct Host {
    const char* name;
    const char* tool;  // the language's command, as CMake found it
    std::string (*prepare)(const TempDir& work);
};

std::string PythonHost(const TempDir&) {
    return std::string("'") + GRELLAN_PYTHON3 + "' '" + kExamples + "/python/grellan_host.py'";
}

// Built with the build tree's own Go caches and without the network.
std::string GoHost(const TempDir& work) {
    const std::string go = std::string(GRELLAN_BUILD_DIR) + "/go";
    const ProcessResult build =
        RunShell("cd '" + kExamples +
                 "/go' && GOENV=off GOFLAGS= GOPROXY=off GOTOOLCHAIN=local "
                 "CGO_ENABLED=1 CC='" +
                 GRELLAN_C_COMPILER + "' GOCACHE='" + go + "/cache' GOPATH='" + go + "/path' '" +
                 GRELLAN_GO + "' build -o '" + work.Path() + "/grellan-host' . 2>&1");
    EXPECT_EQ(build.status, 0) << build.output;
    return "'" + work.Path() + "/grellan-host'";
}

class ExampleHost : public ::testing::TestWithParam<Host> {};

// Each host prints what the probe prints for the same machine, and treats an
// empty string as no fingerprint (exit status 3, nothing on standard output).
TEST_P(ExampleHost, PrintsTheProbesFingerprint) {
    if (std::string(GetParam().tool).empty()) {
#if defined(__APPLE__)
        GTEST_SKIP() << GetParam().name << " is not installed";
#else
        FAIL() << GetParam().name << " is not installed: scripts/setup.sh installs it";
#endif
    }
    // A library built with AddressSanitizer needs its runtime loaded first
    // in a host built without it.
    std::string preload = GRELLAN_SANITIZER_PRELOAD;
    if (std::string(GRELLAN_SANITIZE_FLAGS).empty() != preload.empty()) {
        GTEST_SKIP() << "no runtime to load for " << GRELLAN_SANITIZE_FLAGS;
    }
    if (!preload.empty()) {
        preload = "LD_PRELOAD='" + preload + "' ASAN_OPTIONS=detect_leaks=0 ";
    }
    const TempDir work;
    const std::string host = GetParam().prepare(work);
    const FakeMacTools tools;
    const TempDir noTools;
    const Bytes table = TableBuilder()
                            .AddSerial(3, 3, "CH-7")
                            .AddSerial(1, 1, "SYS-7")
                            .AddSerial(2, 2, "MB-7")
                            .AddSerial(4, 4, "CPU-7")
                            .AddEnd()
                            .Table();
    for (const Machine& machine : kMachines) {
        SCOPED_TRACE(machine.name);
        MemoryImage image;
        if (machine.table) {
            image.PutTable(0xF0000, 2, 8, 0x1000, table);
        }
        const std::string settings =
            "GRELLAN_TEST_SEARCH_PATH='" +
            (machine.tools ? tools.Directory() + ":/usr/bin:/bin" : noTools.Path()) +
            "' GRELLAN_TEST_MEMORY_DEVICE='" + image.Save(work) + "' ";
        const ProcessResult probe = RunShell(settings + "'" + kTestPath + "/grellanprobe'");
        const ProcessResult result =
            RunShell(settings + preload + host + " '" + kTestPath + "/libgrellan.dylib'");
        if (probe.status == 3) {
            EXPECT_EQ(result.status, 3);
            EXPECT_EQ(result.output, "");
        } else {
            ASSERT_EQ(probe.status, 0) << probe.output;
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.output, probe.output);
        }
        EXPECT_EQ(probe.status, machine.tools || machine.table ? 0 : 3);
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, ExampleHost,
                         ::testing::Values(Host{"Python", GRELLAN_PYTHON3, PythonHost},
                                           Host{"Go", GRELLAN_GO, GoHost}),
                         grellan::testing::CaseName());

}  // namespace
