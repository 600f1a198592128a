#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <string>
#include <vector>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "HardwareHash.h"
#include "RegistryStandIn.h"
#include "RegistryTable.h"
#include "TableBuilder.h"
#include "TempDir.h"
#include "grellan/grellan.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::ReferenceMd5;
using grellan::testing::TableBuilder;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

class GetHardwareHashTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Bytes table = TableBuilder()
                                .AddSerial(1, 1, "SYSTEM-0001")
                                .AddSerial(2, 2, "BOARD-0002")
                                .AddSerial(3, 3, "CHASSIS-0003")
                                .AddSerial(4, 4, "CPU-0004")
                                .AddEnd()
                                .Table();
        grellan::testing::PutRegistryTable(table, 2, 7, 0x27);
        expected = ReferenceMd5("CHASSIS-0003SYSTEM-0001BOARD-0002CPU-0004");
    }

    standin::ScopedRegistry registry;
    platform::ScopedFirmwarePaths paths{platform::WithoutMemoryDevice()};
    std::string expected;
};

struct BufferCase {
    const char* name;
    int len;
    std::size_t characters;  // fingerprint characters expected before the zeros
};

class GetHardwareHashBuffer : public GetHardwareHashTest,
                              public ::testing::WithParamInterface<BufferCase> {};

// Sentinels around and after the buffer prove nothing past len is written.
TEST_P(GetHardwareHashBuffer, WritesExactlyLenBytes) {
    const BufferCase c = GetParam();
    constexpr std::size_t kGuard = 16;
    const std::size_t used = c.len > 0 ? static_cast<std::size_t>(c.len) : 0;
    std::vector<char> memory(kGuard + used + kGuard, '\x5A');
    GetHardwareHash(memory.data() + kGuard, c.len);
    for (std::size_t i = 0; i < kGuard; ++i) {
        ASSERT_EQ(memory[i], '\x5A') << "before the buffer, at " << i;
        ASSERT_EQ(memory[kGuard + used + i], '\x5A') << "past len, at " << i;
    }
    const char* dst = memory.data() + kGuard;
    EXPECT_EQ(std::string(dst, c.characters), expected.substr(0, c.characters));
    for (std::size_t i = c.characters; i < used; ++i) {
        ASSERT_EQ(dst[i], '\0') << "at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, GetHardwareHashBuffer,
                         ::testing::Values(BufferCase{"Len256", 256, 32},
                                           BufferCase{"Len33", 33, 32}, BufferCase{"Len32", 32, 31},
                                           BufferCase{"Len2", 2, 1}, BufferCase{"Len1", 1, 0},
                                           BufferCase{"Len0", 0, 0}, BufferCase{"LenMinus1", -1, 0},
                                           BufferCase{"LenIntMin", -2147483647 - 1, 0}),
                         grellan::testing::CaseName());

TEST_F(GetHardwareHashTest, RepeatedCallsGiveTheSameFingerprint) {
    EXPECT_EQ(grellan::testing::HardwareHash(), expected);
    EXPECT_EQ(grellan::testing::HardwareHash(), expected);
    EXPECT_EQ(standin::OutstandingReferences(), 0U);
}

TEST_F(GetHardwareHashTest, AnExceptionInsideLeavesAnEmptyString) {
    // No table, and a registry dump that is empty and cannot be parsed.
    standin::ClearRegistry();
    const grellan::testing::FakeMacTools tools;
    tools.SetRegistryDump("");
    const platform::ScopedCommandSettings commands(tools.Directory());
    char buffer[40];
    std::memset(buffer, 'x', sizeof buffer);
    GetHardwareHash(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
}

// A hostile registry dump thousands of levels deep must not overflow the
// stack of a host thread: macOS gives secondary threads 512 KiB.
TEST_F(GetHardwareHashTest, DeepRegistryDumpOnASmallThreadStackGivesAnEmptyString) {
    standin::ClearRegistry();
    const grellan::testing::FakeMacTools tools;
    std::string dump = "<plist>";
    for (int i = 0; i < 100000; ++i) {
        dump += "<array>";
    }
    tools.SetRegistryDump(dump + "\n");
    const platform::ScopedCommandSettings commands(tools.Directory());

    struct Call {
        char buffer[48];
    } call;
    std::memset(call.buffer, 'x', sizeof call.buffer);
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, std::size_t{512} * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* argument) -> void* {
                      auto* c = static_cast<Call*>(argument);
                      GetHardwareHash(c->buffer, sizeof c->buffer);
                      return nullptr;
                  },
                  &call),
              0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(std::string(call.buffer, sizeof call.buffer), std::string(sizeof call.buffer, '\0'));
}

}  // namespace
