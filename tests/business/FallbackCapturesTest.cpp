// The fallback over real system_profiler reports of Apple-silicon Macs
// (tests/data/system_profiler; SOURCES.md there names each one's origin),
// with the hand-written Intel report of FakeMacTools as one case among them:
// the serials each report must give.

#include <gtest/gtest.h>

#include <string>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "RegistryStandIn.h"
#include "TempDir.h"
#include "TestData.h"
#include "business/SerialComputation.h"

namespace {

using grellan::testing::FakeMacTools;
using tirsel::kvl::agent::driver::business::HardwareSerials;
using tirsel::kvl::agent::driver::business::SerialComputation;
using tirsel::kvl::agent::driver::platform::ScopedCommandSettings;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

struct CaptureCase {
    const char* name;
    const char* report;  // under tests/data; empty for FakeMacTools' own
    std::string processor;
    std::string machineSerial;  // the chassis and the system serial alike
};

class FallbackCaptures : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(FallbackCaptures, GiveTheSerialsOfTheirReport) {
    const CaptureCase& c = GetParam();
    FakeMacTools::Machine machine;  // its registry dump gives the chip bytes "ABCD"
    if (*c.report != '\0') {
        machine.report = grellan::testing::ReadFile(grellan::testing::TestDataPath(c.report));
        ASSERT_FALSE(machine.report.empty()) << c.report;
    }
    const FakeMacTools tools(machine);
    const ScopedCommandSettings commands(tools.Directory());
    const standin::ScopedRegistry registry;
    standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                             std::string("BOARD\0", 6));

    const HardwareSerials serials = SerialComputation::OfFallbackTools().Serials();
    EXPECT_EQ(serials.processor, c.processor);
    EXPECT_EQ(serials.chassis, c.machineSerial);
    EXPECT_EQ(serials.system, c.machineSerial);
    EXPECT_EQ(serials.baseboard, "BOARD");
}

INSTANTIATE_TEST_SUITE_P(
    Reports, FallbackCaptures,
    ::testing::Values(CaptureCase{"IntelMacBookPro16_1HandWritten", "", "8-Core Intel Core i9 ABCD",
                                  "C02XK0AAJGH5"},
                      CaptureCase{"AppleM1ProMacBookPro18_3",
                                  "system_profiler/apple-m1-pro-macbookpro18-3.txt",
                                  "Apple M1 Pro ABCD", "WWGNS60W18"},
                      // Its poster replaced the serial number by "--" before quoting it.
                      CaptureCase{"AppleM3Mac15_12", "system_profiler/apple-m3-mac15-12.txt",
                                  "Apple M3 ABCD", "--"}),
    grellan::testing::CaseName());

}  // namespace
