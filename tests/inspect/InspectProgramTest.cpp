#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "FakeMacTools.h"
#include "MemoryImage.h"
#include "TableBuilder.h"
#include "TempDir.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::FakeMacTools;
using grellan::testing::ProcessResult;
using grellan::testing::ReferenceMd5;
using grellan::testing::RunShell;
using grellan::testing::TableBuilder;
using grellan::testing::TempDir;

const std::string kBin = std::string(GRELLAN_BUILD_DIR) + "/bin";

std::string Inspect(const std::string& args, const std::string& path = "/usr/bin:/bin") {
    return "PATH='" + path + "' '" + kBin + "/grellaninspect' " + args;
}

Bytes TwoProcessorTable() {
    return TableBuilder()
        .AddSerial(0, 0, "")
        .AddSerial(1, 1, "SYS 42 ")
        .AddSerial(2, 2,
                   "MB\x01"
                   "7")
        .AddSerial(3, 3, "CH-9")
        .AddSerial(4, 4, "CPU-A")
        .AddSerial(4, 5, "CPU-B")
        .AddEnd()
        .Table();
}

// The digest input of TwoProcessorTable: the system serial's blank at the end
// is trimmed and the control byte becomes a blank.
const std::string kTwoProcessorInput = "CH-9SYS 42MB 7CPU-ACPU-B";

std::string AsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

nlohmann::json Json(const ProcessResult& result) {
    return nlohmann::json::parse(result.output);
}

TEST(InspectSnapshot, ExplainsAndHashesTheTable) {
    const TempDir dir;
    const std::string file =
        dir.Write("ticket.txt", "\n  " + TableBuilder::Snapshot(2, 8, TwoProcessorTable()) + "\n");
    const ProcessResult text = RunShell(Inspect("--from-snapshot '" + file + "'"));
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.output.find("SMBIOS:      2.8\n"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("  system     \"SYS 42\"\n"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("  processor  \"CPU-ACPU-B\"\n"), std::string::npos);
    EXPECT_NE(text.output.find("fingerprint: " + ReferenceMd5(kTwoProcessorInput)),
              std::string::npos);

    const nlohmann::json json =
        Json(RunShell(Inspect("--json --snapshot --from-snapshot - < '" + file + "'")));
    EXPECT_EQ(json["source"], "snapshot");
    EXPECT_EQ(json["smbios_version"], "2.8");
    EXPECT_EQ(json["serials"]["baseboard"], "MB 7");
    EXPECT_EQ(json["fingerprint"], ReferenceMd5(kTwoProcessorInput));
    EXPECT_EQ(json["snapshot"], TableBuilder::Snapshot(2, 8, TwoProcessorTable()));
}

TEST(InspectSnapshot, Version22LeavesProcessorsOut) {
    const TempDir dir;
    const std::string file = dir.Write("s", TableBuilder::Snapshot(2, 2, TwoProcessorTable()));
    const nlohmann::json json = Json(RunShell(Inspect("--json --from-snapshot '" + file + "'")));
    EXPECT_EQ(json["serials"]["processor"], "");
    EXPECT_EQ(json["fingerprint"], ReferenceMd5("CH-9SYS 42MB 7"));
    EXPECT_NE(json["steps"].dump().find("older than 2.3"), std::string::npos);
}

TEST(InspectDmi, DumpBinFile) {
    const TempDir dir;
    const Bytes table = TwoProcessorTable();
    Bytes image = grellan::testing::EntryPoint21(2, 7, table.size(), 32, 0x27);
    image.resize(32, 0);  // the dump-bin layout puts the table at 32
    image.insert(image.end(), table.begin(), table.end());
    const std::string file = dir.Write("dump.bin", AsText(image));
    const nlohmann::json json = Json(RunShell(Inspect("--json --from-dmi '" + file + "'")));
    EXPECT_EQ(json["source"], "dmi");
    EXPECT_EQ(json["smbios_version"], "2.7");
    EXPECT_EQ(json["fingerprint"], ReferenceMd5(kTwoProcessorInput));
}

TEST(InspectDmi, RawTableWithSysfsEntryPoint) {
    const TempDir dir;
    const Bytes table = TwoProcessorTable();
    // The stated length is a maximum, not the table's exact size.
    const Bytes ep3 = grellan::testing::EntryPoint3(3, 2, table.size() + 100, 0xBFF00000);
    dir.Write("smbios_entry_point", AsText(ep3));
    const std::string file = dir.Write("DMI", AsText(table));
    const ProcessResult result = RunShell(Inspect("--json --from-dmi '" + file + "'"));
    ASSERT_EQ(result.status, 0);
    const nlohmann::json json = Json(result);
    EXPECT_EQ(json["smbios_version"], "3.2");
    EXPECT_EQ(json["fingerprint"], ReferenceMd5(kTwoProcessorInput));
}

struct BadInputCase {
    const char* name;
    std::string args;
    std::string content;
    int status;
    std::string message;
};

class InspectErrors : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(InspectErrors, ClearMessageOnStandardErrorAndDocumentedStatus) {
    const TempDir dir;
    const std::string file = dir.Write("input", GetParam().content);
    const ProcessResult result =
        RunShell(Inspect(GetParam().args + " '" + file + "' 2>&1 >/dev/null"));
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InspectErrors,
    ::testing::Values(
        BadInputCase{"ShortSnapshot", "--from-snapshot", "AAEC", 2, "SmBios can not be loaded"},
        BadInputCase{"EmptySnapshot", "--from-snapshot", "\n", 2, "SmBios can not be loaded"},
        BadInputCase{"RawTableWithoutEntryPoint", "--from-dmi", "\x01\x08", 2,
                     "without an entry point"},
        BadInputCase{
            "BadDmiChecksum", "--from-dmi",
            std::string("_SM_\0\0\x02\x07\0\0\0\0\0\0\0\0_DMI_\x01\0\0\0\0\0\0\0\0\0\0", 32), 2,
            "no valid _DMI_ part"},
        BadInputCase{"UnknownOption", "--frobnicate", "", 1, "unrecognised option"},
        BadInputCase{"BothSources", "--from-dmi x --from-snapshot", "", 1, "exclude each other"}),
    [](const ::testing::TestParamInfo<BadInputCase>& info) {
        return std::string(info.param.name);
    });

TEST(InspectHelp, DescribesTheToolAndItsExitStatuses) {
    const ProcessResult result = RunShell(Inspect("--help"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.rfind("Usage: grellaninspect [options]\n", 0), 0U) << result.output;
    EXPECT_NE(result.output.find("Exit status: 0 explained"), std::string::npos);
    EXPECT_NE(result.output.find("--from-snapshot FILE"), std::string::npos);
}

TEST(InspectMachine, FallbackToolsGiveTheProbesFingerprint) {
    if (boost::filesystem::exists("/dev/mem")) {
        GTEST_SKIP() << "/dev/mem exists: the tools would scan real memory";
    }
    // The test builds in testpath/ search the fake tools first.
    const FakeMacTools tools;
    const std::string bin = std::string(GRELLAN_BUILD_DIR) + "/testpath";
    const std::string env = "GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() + ":/usr/bin:/bin' ";
    const nlohmann::json json = Json(RunShell(env + "'" + bin + "/grellaninspect' --json"));
    const FakeMacTools::Machine machine;
    const std::string expected =
        ReferenceMd5(machine.serial + machine.serial + machine.processorName + " ABCD");
    EXPECT_EQ(json["source"], "fallback");
    EXPECT_EQ(json["serials"]["processor"], machine.processorName + " ABCD");
    EXPECT_EQ(json["fingerprint"], expected);
    const ProcessResult probe = RunShell(env + "'" + bin + "/grellanprobe'");
    EXPECT_EQ(probe.output, expected + "\n");
}

TEST(InspectMachine, NoSourceAtAllSaysWhyStepByStep) {
    if (boost::filesystem::exists("/dev/mem")) {
        GTEST_SKIP() << "/dev/mem exists: the tools would scan real memory";
    }
    const ProcessResult result = RunShell(Inspect("2>/dev/null"));
    EXPECT_EQ(result.status, 3);
    const std::string& out = result.output;
    const std::size_t absent = out.find("/dev/mem is absent");
    const std::size_t service = out.find("no AppleSMBIOS service");
    // No ioreg on the fixed search path: the registry dump command fails.
    const std::size_t parse =
        out.find("command failed: ioreg -a  -l -p IODeviceTree -c IORegistryEntry");
    ASSERT_NE(absent, std::string::npos) << out;
    ASSERT_NE(service, std::string::npos) << out;
    ASSERT_NE(parse, std::string::npos) << out;
    EXPECT_LT(absent, service);
    EXPECT_LT(service, parse);
    EXPECT_NE(out.find("fingerprint: none"), std::string::npos);
    const ProcessResult probe =
        RunShell("PATH=/usr/bin:/bin '" + kBin + "/grellanprobe' 2>/dev/null");
    EXPECT_EQ(probe.output, "unable to compute hardware hash!\n");
}

TEST(InspectExamples, CheckedInSnapshotsStillGiveTheirFingerprints) {
    const std::string examples = std::string(GRELLAN_SOURCE_DIR) + "/examples";
    const nlohmann::json v22 =
        Json(RunShell(Inspect("--json --from-snapshot '" + examples + "/smbios-2.2.snapshot'")));
    const nlohmann::json v28 = Json(RunShell(
        Inspect("--json --from-snapshot '" + examples + "/smbios-2.8-two-cpus.snapshot'")));
    EXPECT_EQ(v22["fingerprint"], ReferenceMd5("CHS-22-0001SYS-22-0001MB-22-0001"));
    EXPECT_EQ(v28["fingerprint"], ReferenceMd5("CHS-28-0002SYS-28-0002MB-28-0002CPU-28-ACPU-28-B"));
}

}  // namespace
