// A C host (tests/business/AllocationHost.c) loads the library with dlopen and
// has its allocations run out inside one call: from every point on, on both
// paths, or under an address-space limit over a large registry dump. The
// host must never be killed, and the buffer holds the right fingerprint or
// an empty string, never another one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "CaseName.h"
#include "FakeMacTools.h"
#include "MemoryImage.h"
#include "RegistryDumps.h"
#include "TableBuilder.h"
#include "TempDir.h"

namespace {

using grellan::testing::FakeMacTools;
using grellan::testing::ProcessResult;
using grellan::testing::ReferenceMd5;
using grellan::testing::RunShell;
using grellan::testing::TempDir;

struct HostAnswer {
    int status = -1;
    std::string hash;
    unsigned long allocations = 0;
};

class MemoryExhaustion : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
#if !defined(GRELLAN_ALLOCATION_HOST)
        GTEST_SKIP() << "the allocation host takes over malloc, which a sanitizer owns";
#else
        if (std::string(GetParam()) == "Table") {
            grellan::testing::MemoryImage image;
            const grellan::testing::Bytes table = grellan::testing::TableBuilder()
                                                      .AddSerial(3, 3, "CHS-1")
                                                      .AddSerial(1, 1, "SYS-1")
                                                      .AddSerial(2, 2, "MB-1")
                                                      .AddSerial(4, 4, "CPU-1")
                                                      .AddEnd()
                                                      .Table();
            image.PutTable(0xF0000, 2, 8, 0x9A000, table);
            environment = "GRELLAN_TEST_MEMORY_DEVICE='" + image.Save(dir) + "' ";
            expected = ReferenceMd5("CHS-1SYS-1MB-1CPU-1");
        } else {
            const FakeMacTools::Machine machine;
            expected =
                ReferenceMd5(machine.serial + machine.serial + machine.processorName + " ABCD");
        }
        environment += "GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() + ":/usr/bin:/bin' ";
#endif
    }

    HostAnswer Run(const std::string& argument) const {
#if defined(GRELLAN_ALLOCATION_HOST)
        const ProcessResult run = RunShell(environment + "'" + GRELLAN_ALLOCATION_HOST + "' '" +
                                           GRELLAN_TESTPATH_LIBRARY + "' " + argument);
        HostAnswer answer;
        answer.status = run.status;
        char hash[64] = "";
        if (std::sscanf(run.output.c_str(), "%32[0-9a-f] %lu", hash, &answer.allocations) == 2) {
            answer.hash = hash;
        } else {
            std::sscanf(run.output.c_str(), " %lu", &answer.allocations);
        }
        return answer;
#else
        (void)argument;
        return {};
#endif
    }

    TempDir dir;
    FakeMacTools tools;
    std::string environment;
    std::string expected;
};

// The first allocation of a thread's first call is the C++ runtime's record
// for the thread (its thread-local storage, which glibc's loader allocates
// on first use and cannot do without); the call asks for it before anything
// else. Every later point, and every point of a later call, is an answer.
TEST_P(MemoryExhaustion, EveryRefusalFromAnyPointOnGivesTheFingerprintOrNone) {
    const HostAnswer unrefused = Run("0");
    ASSERT_EQ(unrefused.status, 0);
    ASSERT_EQ(unrefused.hash, expected);
    for (const char* again : {"again 1", "again 2"}) {
        const HostAnswer answer = Run(again);
        ASSERT_EQ(answer.status, 0) << again;
        EXPECT_EQ(answer.hash, "") << again;
    }
    // Every point among the first allocations, then a spread up to the last.
    std::set<unsigned long> points;
    for (unsigned long n = 2; n <= 48; ++n) {
        points.insert(n);
    }
    for (unsigned long n = 48; n <= unrefused.allocations + 1; n += std::max(1UL, n / 8)) {
        points.insert(n);
    }
    points.insert(unrefused.allocations);
    int empty = 0;
    for (const unsigned long n : points) {
        const HostAnswer answer = Run(std::to_string(n));
        ASSERT_EQ(answer.status, 0) << "killed with allocations refused from the " << n << "th on";
        EXPECT_TRUE(answer.hash.empty() || answer.hash == expected)
            << "refused from the " << n << "th on: " << answer.hash;
        empty += answer.hash.empty() ? 1 : 0;
    }
    std::printf("%s: %lu allocations; refused from %zu points on, %d gave no fingerprint\n",
                GetParam(), unrefused.allocations, points.size(), empty);
}

INSTANTIATE_TEST_SUITE_P(Paths, MemoryExhaustion, ::testing::Values("Table", "Fallback"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// A daemon with 64 MiB of address space to spare and a 30 MB registry dump.
TEST(MemoryExhaustionUnderALimit, LargeDumpGivesTheFingerprintOrNone) {
#if !defined(GRELLAN_ALLOCATION_HOST)
    GTEST_SKIP() << "the sanitizer's own mappings would be limited";
#else
    FakeMacTools tools;
    tools.SetRegistryDump(grellan::testing::RealisticRegistryDump(std::size_t{30} << 20));
    const FakeMacTools::Machine machine;
    // The dump's chip identifier decodes to no printable run.
    const std::string expected =
        ReferenceMd5(machine.serial + machine.serial + machine.processorName + " ");
    int answered = 0;
    for (int run = 0; run < 6; ++run) {
        const ProcessResult result =
            RunShell("GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() + ":/usr/bin:/bin' '" +
                     GRELLAN_ALLOCATION_HOST + "' '" + GRELLAN_TESTPATH_LIBRARY + "' as");
        ASSERT_EQ(result.status, 0) << "run " << run << ": " << result.output;
        const std::string hash = result.output.substr(0, result.output.find(' '));
        EXPECT_TRUE(hash.empty() || hash == expected) << "run " << run << ": " << hash;
        answered += hash.empty() ? 0 : 1;
    }
    std::printf("%d of 6 runs gave the fingerprint, the others none\n", answered);
#endif
}

}  // namespace
