#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "HardwareHash.h"
#include "MemoryImage.h"
#include "RegistryStandIn.h"
#include "RegistryTable.h"
#include "Steps.h"
#include "TableBuilder.h"
#include "TempDir.h"
#include "grellan/grellan.h"
#include "inspect/InspectProgram.h"

namespace {

using grellan::testing::HasStep;

using grellan::testing::Bytes;
using grellan::testing::EntryPoint21;
using grellan::testing::FakeMacTools;
using grellan::testing::MemoryImage;
using grellan::testing::ReferenceMd5;
using grellan::testing::TableBuilder;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::inspect::FingerprintReport;
using tirsel::kvl::agent::driver::inspect::InspectProgram;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

const Bytes kTable = TableBuilder()
                         .AddSerial(3, 1, "CH")
                         .AddSerial(1, 2, "SY")
                         .AddSerial(4, 3, "CPU")
                         .AddEnd()
                         .Table();
const std::string kInput = "CHSYCPU";

// The tool explains the table sources the way GetHardwareHash uses them, and
// arrives at the same fingerprint in the same process.
TEST(ExplainMachine, RegistryTable) {
    const standin::ScopedRegistry registry;
    grellan::testing::PutRegistryTable(kTable, 2, 7, 0x27);
    const platform::ScopedFirmwarePaths scoped(platform::WithoutMemoryDevice());

    const FingerprintReport report = InspectProgram::ExplainMachine(true);
    EXPECT_EQ(report.sourceKey, "registry");
    EXPECT_EQ(report.smbiosVersion, "2.7");
    EXPECT_TRUE(HasStep(report.steps, "/dev/mem is absent"));
    EXPECT_EQ(report.fingerprint, ReferenceMd5(kInput));
    EXPECT_EQ(report.fingerprint, grellan::testing::HardwareHash());
    EXPECT_EQ(report.snapshot, TableBuilder::Base64(TableBuilder::HeldBytes(2, 7, kTable, 0x27)));
}

TEST(ExplainMachine, LegacyMemoryScan) {
    const TempDir dir;
    MemoryImage image;
    image.PutTable(0xF0000, 2, 8, 0x10000, kTable, 0x28);
    const platform::ScopedFirmwarePaths scoped(platform::MemoryDeviceAt(image.Save(dir)));

    const FingerprintReport report = InspectProgram::ExplainMachine(false);
    EXPECT_EQ(report.sourceKey, "legacy-scan");
    EXPECT_EQ(report.smbiosVersion, "2.8");
    EXPECT_TRUE(HasStep(report.steps, "legacy scan: entry point at 0xF0000"));
    EXPECT_EQ(report.fingerprint, ReferenceMd5(kInput));
    EXPECT_EQ(report.fingerprint, grellan::testing::HardwareHash());
    EXPECT_FALSE(report.snapshot);
}

struct ProcessorCase {
    const char* name;
    std::string processorName;
    std::string chipIdBase64;
    bool withChipId;
    bool unidentified;  // the step saying neither was found is expected
};

void PrintTo(const ProcessorCase& c, std::ostream* os) {
    *os << c.name;
}

class ExplainFallbackProcessor : public ::testing::TestWithParam<ProcessorCase> {};

// Asked of what the loader found, not of the serial's text.
TEST_P(ExplainFallbackProcessor, SaysWhenNeitherNameNorChipWasFound) {
    const ProcessorCase& c = GetParam();
    const standin::ScopedRegistry registry;
    const platform::ScopedFirmwarePaths paths(platform::WithoutMemoryDevice());
    FakeMacTools::Machine machine;
    machine.processorName = c.processorName;
    machine.chipIdBase64 = c.chipIdBase64;
    machine.withChipId = c.withChipId;
    const FakeMacTools tools(machine);
    const platform::ScopedCommandSettings commands(tools.Directory());

    const FingerprintReport report = InspectProgram::ExplainMachine(false);
    EXPECT_EQ(report.sourceKey, "fallback");
    EXPECT_EQ(HasStep(report.steps, "no processor name"), c.unidentified);
    EXPECT_EQ(report.fingerprint, grellan::testing::HardwareHash());
}

INSTANTIATE_TEST_SUITE_P(Machines, ExplainFallbackProcessor,
                         ::testing::Values(ProcessorCase{"NoNameNoChipId", "", "", false, true},
                                           ProcessorCase{"ChipIdDecodingToNothing", "", "", true,
                                                         true},
                                           ProcessorCase{"NameOnly", "X1", "", false, false},
                                           ProcessorCase{"ChipIdOnly", "", "QUJD", true, false}),
                         [](const ::testing::TestParamInfo<ProcessorCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
