// Many fallback computations at once, on a loaded machine, against healthy
// fake tools: every one must give the same serials. A wrong serial would be a
// different, plausible fingerprint; a failed computation an unneeded "none".
// GRELLAN_STRESS_CALLS sets the number of calls (default 200; the long run
// uses 100000), GRELLAN_STRESS_THREADS the callers, GRELLAN_STRESS_HOGS the
// threads that only burn CPU beside them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "RegistryStandIn.h"
#include "business/HwHashCalculator.h"
#include "business/SerialComputation.h"

namespace {

using grellan::testing::FakeMacTools;
using tirsel::kvl::agent::driver::business::HardwareSerials;
using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::business::SerialComputation;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

long Setting(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atol(text) : fallback;
}

std::string Describe(const HardwareSerials& s) {
    return "processor [" + s.processor + "] chassis [" + s.chassis + "] system [" + s.system +
           "] baseboard [" + s.baseboard + "]";
}

TEST(FallbackStress, EveryCallGivesTheSameSerials) {
    const long calls = Setting("GRELLAN_STRESS_CALLS", 200);
    const long threads = Setting("GRELLAN_STRESS_THREADS", 8);
    const long hogs = Setting("GRELLAN_STRESS_HOGS", 2);

    const standin::ScopedRegistry registry;
    standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                             std::string("C02MLB0001\0", 11));
    const platform::ScopedFirmwarePaths paths(platform::WithoutMemoryDevice());
    const FakeMacTools::Machine machine;
    const FakeMacTools tools(machine);
    const platform::ScopedCommandSettings commands(tools.Directory());

    HardwareSerials expected;
    expected.processor = machine.processorName + " ABCD";
    expected.chassis = machine.serial;
    expected.system = machine.serial;
    expected.baseboard = "C02MLB0001";
    const std::string expectedHash = HwHashCalculator::HashText(expected);

    std::atomic<bool> stop{false};
    std::vector<std::thread> burners;
    for (long i = 0; i < hogs; ++i) {
        burners.emplace_back([&stop] {
            unsigned long x = 1;
            while (!stop.load(std::memory_order_relaxed)) {
                for (int k = 0; k < 100000; ++k) {
                    x = x * 6364136223846793005UL + 1442695040888963407UL;
                }
            }
            std::atomic_signal_fence(std::memory_order_seq_cst);
            (void)x;
        });
    }

    std::atomic<long> next{0};
    std::atomic<long> differences{0};
    std::atomic<long> failures{0};
    std::mutex reportLock;
    std::vector<std::string> reports;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> callers;
    for (long t = 0; t < threads; ++t) {
        callers.emplace_back([&] {
            long call = 0;
            while ((call = next.fetch_add(1)) < calls) {
                if (call > 0 && call % 5000 == 0) {
                    // The long run reports as it goes.
                    std::printf("  %ld calls started, %ld differences, %ld failures so far\n", call,
                                differences.load(), failures.load());
                    std::fflush(stdout);
                }
                std::string problem;
                try {
                    const HardwareSerials serials = SerialComputation::OfFallbackTools().Serials();
                    if (HwHashCalculator::HashText(serials) != expectedHash) {
                        differences.fetch_add(1);
                        problem = "different: " + Describe(serials);
                    }
                } catch (const std::exception& error) {
                    failures.fetch_add(1);
                    problem = std::string("no fingerprint: ") + error.what();
                }
                if (!problem.empty()) {
                    const std::lock_guard<std::mutex> lock(reportLock);
                    if (reports.size() < 20) {
                        reports.push_back(problem);
                    }
                }
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    stop = true;
    for (std::thread& burner : burners) {
        burner.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "fallback stress: %ld calls, %ld threads, %ld hogs, %.1f s: %ld differences, %ld "
        "failures\n",
        calls, threads, hogs, seconds, differences.load(), failures.load());
    for (const std::string& report : reports) {
        std::printf("  %s\n", report.c_str());
    }
    EXPECT_EQ(differences.load(), 0);
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
