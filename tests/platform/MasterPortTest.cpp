#include <gtest/gtest.h>

#include <string>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "HardwareHash.h"
#include "RegistryStandIn.h"
#include "RegistryTable.h"
#include "TableBuilder.h"
#include "grellan/grellan.h"
#include "platform/IOKit.h"
#include "platform/MasterPort.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::FakeMacTools;
using grellan::testing::TableBuilder;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

struct LookupCase {
    const char* name;
    bool smbiosTable;  // AppleSMBIOS holds a table: one look-up, no fallback
    bool boardSerial;  // IOPlatformExpertDevice holds "mlb-serial-number"
};

class MasterPortRelease : public ::testing::TestWithParam<LookupCase> {
protected:
    standin::ScopedRegistry registry;
    platform::ScopedFirmwarePaths paths{platform::WithoutMemoryDevice()};
    FakeMacTools tools;
    platform::ScopedCommandSettings commands{tools.Directory()};
};

// The AppleSMBIOS look-up, and in the fallback also the IOPlatformExpertDevice
// look-up, each give back the master port reference they obtained.
TEST_P(MasterPortRelease, NoPortReferenceOutlivesACall) {
    const LookupCase& c = GetParam();
    if (c.smbiosTable) {
        const Bytes table = TableBuilder().AddSerial(2, 2, "BOARD-0002").AddEnd().Table();
        grellan::testing::PutRegistryTable(table, 2, 7, 0x27);
    }
    if (c.boardSerial) {
        standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                                 std::string("C02BOARD\0", 9));
    }
    const std::size_t invalid = standin::InvalidReleases();
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(grellan::testing::HardwareHash().size(), 32U);
        EXPECT_EQ(standin::OutstandingPortReferences(), 0U) << "after call " << call;
        EXPECT_EQ(standin::OutstandingReferences(), 0U) << "after call " << call;
    }
    EXPECT_EQ(standin::InvalidReleases(), invalid);
}

INSTANTIATE_TEST_SUITE_P(Lookups, MasterPortRelease,
                         ::testing::Values(LookupCase{"SmbiosTable", true, false},
                                           LookupCase{"FallbackWithBoardSerial", false, true},
                                           LookupCase{"FallbackWithoutServices", false, false}),
                         grellan::testing::CaseName());

TEST(MasterPort, HolderReleasesItsReferenceOnceAndMovesIt) {
    {
        platform::MasterPort first = platform::MasterPort::Obtain();
        ASSERT_TRUE(first);
        EXPECT_EQ(standin::OutstandingPortReferences(), 1U);
        platform::MasterPort second(std::move(first));
        EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): moved-from is empty
        EXPECT_EQ(standin::OutstandingPortReferences(), 1U);
    }
    EXPECT_EQ(standin::OutstandingPortReferences(), 0U);
    const std::size_t invalid = standin::InvalidReleases();
    EXPECT_NE(mach_port_deallocate(mach_task_self(), 1), KERN_SUCCESS);  // none left to give back
    EXPECT_EQ(standin::InvalidReleases(), invalid + 1);
}

// The real CFRelease crashes on NULL, so the stand-in must not let an
// unguarded release pass quietly.
TEST(CFReleaseDeathTest, NullAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease\\(NULL\\)");
}

}  // namespace
