#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FirmwarePathsOverride.h"
#include "HardwareHash.h"
#include "RegistryStandIn.h"
#include "RegistryTable.h"
#include "TableBuilder.h"
#include "TempDir.h"
#include "grellan/grellan.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::TableBuilder;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

// Hosts call GetHardwareHash from any thread: 8 threads, 100 calls each, on
// the registry path, must all see the same fingerprint (and, under
// ThreadSanitizer, no data race).
TEST(GetHardwareHashConcurrency, EightThreadsAgree) {
    const standin::ScopedRegistry registry;
    const platform::ScopedFirmwarePaths scoped(platform::WithoutMemoryDevice());

    const Bytes table = TableBuilder()
                            .AddSerial(3, 1, "C")
                            .AddSerial(1, 2, "S")
                            .AddSerial(4, 3, "P")
                            .AddEnd()
                            .Table();
    grellan::testing::PutRegistryTable(table, 2, 8, 0x28);
    const std::string expected = grellan::testing::ReferenceMd5("CSP");

    constexpr int kThreads = 8;
    constexpr int kCalls = 100;
    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&results, t] {
            for (int i = 0; i < kCalls; ++i) {
                results[t].push_back(grellan::testing::HardwareHash(64));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& perThread : results) {
        ASSERT_EQ(perThread.size(), static_cast<std::size_t>(kCalls));
        for (const std::string& hash : perThread) {
            ASSERT_EQ(hash, expected);
        }
    }
    EXPECT_EQ(standin::OutstandingReferences(), 0U);
}

}  // namespace
