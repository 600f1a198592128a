#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CaseName.h"
#include "FakeMacTools.h"
#include "Inspector.h"
#include "MemoryImage.h"
#include "RealCaptures.h"
#include "TableBuilder.h"
#include "TempDir.h"
#include "TestData.h"
#include "business/DigestSlots.h"
#include "grellan/grellan.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::FakeMacTools;
using grellan::testing::MemoryImage;
using grellan::testing::ProcessResult;
using grellan::testing::ReferenceMd5;
using grellan::testing::RunShell;
using grellan::testing::TableBuilder;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::business::DigestSlots;

std::string Inspect(const std::string& args) {
    return grellan::testing::InspectCommand(args);
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
    // A stated length beyond the file keeps what the file holds.
    const Bytes ep = grellan::testing::EntryPoint21(
        2, 8, static_cast<std::uint16_t>(table.size() + 100), 0xBFF00000, 0x28);
    dir.Write("smbios_entry_point", AsText(ep));
    const std::string file = dir.Write("DMI", AsText(table));
    const ProcessResult result = RunShell(Inspect("--json --from-dmi '" + file + "'"));
    ASSERT_EQ(result.status, 0);
    const nlohmann::json json = Json(result);
    EXPECT_EQ(json["smbios_version"], "2.8");
    EXPECT_EQ(json["fingerprint"], ReferenceMd5(kTwoProcessorInput));
}

// A --json report whose one serial is the chassis serial "A".
std::string JsonReportOfA(const std::string& fingerprint) {
    return R"({"schema": 1, "source": "snapshot", "source_description": "snapshot of x",
        "structures": [], "serials": {"chassis": "A"}, "serials_hex": {"chassis": "41",
        "system": "", "baseboard": "", "processor": ""}, "fingerprint": ")" +
           fingerprint + "\"}";
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
        BadInputCase{"EmptySnapshot", "--from-snapshot", "\n", 2, "nothing but white space"},
        BadInputCase{"RawTableWithoutEntryPoint", "--from-dmi", "\x01\x08", 2,
                     "without an entry point"},
        BadInputCase{
            "BadDmiChecksum", "--from-dmi",
            std::string("_SM_\0\0\x02\x07\0\0\0\0\0\0\0\0_DMI_\x01\0\0\0\0\0\0\0\0\0\0", 32), 2,
            "no valid _DMI_ part"},
        BadInputCase{"DumpBinWith64BitEntryPoint", "--from-dmi",
                     AsText(grellan::testing::EntryPoint3(3, 2, 0, 32)), 2,
                     "libgrellan does not read such an entry point"},
        BadInputCase{"DiffWith64BitEntryPoint", "--diff /dev/fd/0 /dev/null <",
                     AsText(grellan::testing::EntryPoint3(3, 2, 0, 32)), 2,
                     "libgrellan does not read such an entry point"},
        BadInputCase{"EditedJsonReport", "--diff /dev/fd/0 /dev/null <",
                     JsonReportOfA("00000000000000000000000000000000"), 2,
                     "is not the MD5 of its serials"},
        BadInputCase{"JsonReportWithoutSnapshot", "--from-snapshot",
                     JsonReportOfA("7fc56270e7a70fa81a5935b72eacbe29"), 2,
                     "without a snapshot: nothing to rebuild"},
        BadInputCase{"DiffResultAsInput", "--diff /dev/fd/0 /dev/null <",
                     R"({"schema": 1, "same_fingerprint": true})", 2, "the result of --diff"},
        BadInputCase{"RawTableOnStandardInput", "--diff - /dev/null <", AsText(TwoProcessorTable()),
                     2, "no smbios_entry_point beside it"},
        BadInputCase{"SnapshotSavedAsUtf16", "--from-snapshot", std::string("\xFF\xFEQ\0U\0", 6), 2,
                     "save it as UTF-8"},
        // Base64 of "GRFB" and version 2; of version 1 with a field of 5
        // bytes that holds 2; of one with a field of tag 7.
        BadInputCase{"CaptureOfAnotherVersion", "--from-snapshot", "snapshot:\nR1JGQgI=\n", 2,
                     "of version 2; this grellaninspect reads version 1"},
        BadInputCase{"CutCapture", "--diff /dev/fd/0 /dev/null <", "R1JGQgEBBQAAAGFi", 2,
                     "was cut on the way"},
        BadInputCase{"CaptureFieldUnknown", "--from-snapshot", "R1JGQgEHAAAAAA==", 2,
                     "tag 7, which version 1 does not have"},
        BadInputCase{"UnknownOption", "--frobnicate", "", 1, "unrecognised option"},
        BadInputCase{"BothSources", "--from-dmi x --from-snapshot", "", 1, "exclude each other"}),
    grellan::testing::CaseName());

TEST(InspectHelp, DescribesTheToolAndItsExitStatuses) {
    const ProcessResult result = RunShell(Inspect("--help"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.rfind("Usage: grellaninspect [options]\n", 0), 0U) << result.output;
    EXPECT_NE(result.output.find("Exit status: 0 explained"), std::string::npos);
    EXPECT_NE(result.output.find("--from-snapshot FILE"), std::string::npos);
}

// The MD5 of the four JSON slots, decoded and joined in digest order.
std::string Md5OfJsonSlots(const nlohmann::json& json) {
    std::string input;
    for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
        input += json.at("serials").at(slot.name).get<std::string>();
    }
    return ReferenceMd5(input);
}

// The test builds in testpath/ with `toolPath` as their search path and a
// blank memory image: no table on any machine; `environment` sets more.
class InspectMachine : public ::testing::Test {
protected:
    ProcessResult RunTestBuild(const std::string& toolPath, const std::string& command,
                               const std::string& environment = "") const {
        return RunShell(environment + " GRELLAN_TEST_SEARCH_PATH='" + toolPath +
                        "' GRELLAN_TEST_MEMORY_DEVICE='" + memory + "' '" + GRELLAN_BUILD_DIR +
                        "/testpath/" + command);
    }

    TempDir images;
    const std::string memory = MemoryImage().Save(images);
};

TEST_F(InspectMachine, FallbackToolsGiveTheProbesFingerprint) {
    const FakeMacTools tools;
    const std::string toolPath = tools.Directory() + ":/usr/bin:/bin";
    const nlohmann::json json = Json(RunTestBuild(toolPath, "grellaninspect' --json"));
    const FakeMacTools::Machine machine;
    EXPECT_EQ(json["source"], "fallback");
    EXPECT_EQ(json["serials"]["chassis"], machine.serial);
    EXPECT_EQ(json["serials"]["system"], machine.serial);
    EXPECT_EQ(json["serials"]["processor"], machine.processorName + " ABCD");
    // The board serial is the registry's: none in the stand-in, a Mac's own there.
    EXPECT_EQ(json["fingerprint"], Md5OfJsonSlots(json));
    const ProcessResult probe = RunTestBuild(toolPath, "grellanprobe'");
    EXPECT_EQ(probe.output, json["fingerprint"].get<std::string>() + "\n");
}

// A Japanese report has neither English label: the test builds take the
// serial and the chip name from the stand-ins GRELLAN_TEST_PLATFORM_SERIAL and
// GRELLAN_TEST_CPU_BRAND fill, and the inspector names where each came from.
TEST_F(InspectMachine, MissingLabelsAreNamedAndGiveTheEnglishFingerprint) {
#ifdef __APPLE__
    GTEST_SKIP() << "the real registry and sysctl answer on a Mac";
#endif
    const FakeMacTools::Machine machine;
    const FakeMacTools tools(machine);
    tools.SetHardwareReport(
        "ハードウェア:\n\n      チップ: Apple M1\n      シリアル番号（システム）: " +
        machine.serial + "\n");
    const std::string toolPath = tools.Directory() + ":/usr/bin:/bin";
    const std::string standIns =
        "GRELLAN_TEST_PLATFORM_SERIAL='" + machine.serial + "' GRELLAN_TEST_CPU_BRAND='Apple M1'";
    const ProcessResult text = RunTestBuild(toolPath, "grellaninspect'", standIns);
    EXPECT_NE(text.output.find("  system     serial number: the label was missing: from the "
                               "registry (IOPlatformSerialNumber)\n"),
              std::string::npos)
        << text.output;
    const nlohmann::json json = Json(RunTestBuild(toolPath, "grellaninspect' --json", standIns));
    EXPECT_EQ(json["value_sources"][0]["slot"], "processor");
    EXPECT_EQ(json["value_sources"][0]["source"], "brand-string");
    EXPECT_EQ(json["fingerprint"], ReferenceMd5(machine.serial + machine.serial + "Apple M1 ABCD"));
    const ProcessResult probe = RunTestBuild(toolPath, "grellanprobe'", standIns);
    EXPECT_EQ(probe.output, json["fingerprint"].get<std::string>() + "\n");
}

TEST_F(InspectMachine, NoSourceAtAllSaysWhyStepByStep) {
    // grep, but none of the macOS tools: a Mac keeps them in /usr/sbin
    // (ioreg by IOKitTools' INSTALL_PATH). The commands run at once and the
    // first failure decides: an ioreg that only sleeps makes it
    // system_profiler's.
    const TempDir slowIoreg;
    slowIoreg.WriteScript("ioreg", "exec sleep 5");
    const std::string noTools = slowIoreg.Path() + ":/usr/bin:/bin";
    const ProcessResult result = RunTestBuild(noTools, "grellaninspect' 2>/dev/null");
    EXPECT_EQ(result.status, 3);
    const std::string& out = result.output;
    const std::size_t scan = out.find(memory + " exists: scanning physical memory");
    // No system_profiler on the search path: grep's "no match" does not hide
    // that, and the reason is printed.
    const std::string reason =
        "system_profiler ended with exit status 127, and grep matched nothing";
    const std::size_t parse =
        out.find("a tool failed (" + reason + "): system_profiler SPHardwareDataType | grep");
    ASSERT_NE(scan, std::string::npos) << out;
    ASSERT_NE(parse, std::string::npos) << out;
    EXPECT_LT(scan, parse);
    EXPECT_NE(out.find("fingerprint: none"), std::string::npos);
    const nlohmann::json json = Json(RunTestBuild(noTools, "grellaninspect' --json 2>/dev/null"));
    EXPECT_EQ(json["tool_failure"]["reason"], reason);
    // The tools gave nothing before they failed: nothing to capture, and it says so.
    const ProcessResult snapshot =
        RunTestBuild(noTools, "grellaninspect' --snapshot 2>&1 >/dev/null");
    EXPECT_EQ(snapshot.status, 3);
    EXPECT_NE(snapshot.output.find("--snapshot: nothing to capture"), std::string::npos)
        << snapshot.output;
    const ProcessResult probe = RunTestBuild(noTools, "grellanprobe' 2>/dev/null");
    EXPECT_EQ(probe.output, "unable to compute hardware hash!\n");
}

// Two Macs' reports or captures, or one Mac's before and after its serial
// changed: the one report line fills two slots, and the diff says so.
TEST_F(InspectMachine, DiffOfTwoFallbackReportsNamesTheMachineSerialSlots) {
    for (const std::string options : {"--json", "--snapshot", "--json --snapshot"}) {
        SCOPED_TRACE(options);
        FakeMacTools::Machine other;
        other.serial = "C02YL1BBKHJ6";
        const TempDir dir;
        const auto report = [&](const FakeMacTools::Machine& machine, const std::string& name) {
            const FakeMacTools tools(machine);
            return dir.Write(name, RunTestBuild(tools.Directory() + ":/usr/bin:/bin",
                                                "grellaninspect' " + options)
                                       .output);
        };
        const std::string a = report(FakeMacTools::Machine{}, "a");
        const std::string b = report(other, "b");
        const ProcessResult diff = RunShell(Inspect("--diff '" + a + "' '" + b + "'"));
        EXPECT_EQ(diff.status, 4);
        for (const std::string slot : {"chassis", "system"}) {
            EXPECT_NE(diff.output.find("slot " + slot +
                                       " differs: \"C02XK0AAJGH5\" -> \"C02YL1BBKHJ6\"\n"
                                       "  likely cause: another machine serial (one report line"),
                      std::string::npos)
                << diff.output;
        }
        EXPECT_EQ(diff.output.find("slot processor"), std::string::npos) << diff.output;
    }
}

// A text report split into its steps and the rest of its explanation (the
// values' sources, serials, fingerprint, warnings), without its source and
// snapshot.
struct Explained {
    std::vector<std::string> steps;
    std::string rest;
};

Explained Explain(const std::string& report) {
    Explained explained;
    std::istringstream lines(report);
    bool snapshot = false;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t dot = line.find(". ");
        if (snapshot || line.rfind("source:", 0) == 0 || line == "steps:") {
            continue;
        }
        if (line == "snapshot:") {
            snapshot = true;
        } else if (line.rfind("  ", 0) == 0 && dot != std::string::npos &&
                   line.find_first_not_of(" 0123456789") == dot) {
            explained.steps.push_back(line.substr(dot + 2));
        } else {
            explained.rest += line + "\n";
        }
    }
    return explained;
}

// The fallback on machines whose tools print real reports (and one whose
// registry dump fails): --snapshot prints a capture of what the computation
// read; --from-snapshot replays it into the same fingerprint, or the same
// lack of one, and the same explanation, whose steps end as the machine's do.
struct CaptureCase {
    const char* name;
    std::string report;       // the fake system_profiler's; empty for FakeMacTools' own
    const char* ioreg;        // the fake ioreg's script; empty for FakeMacTools' own
    const char* environment;  // the stand-ins' values (off Apple)
    int status;
};

std::string RealReport(const char* file) {
    return grellan::testing::ReadFile(grellan::testing::TestDataPath(file));
}

class InspectCapture : public InspectMachine, public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(InspectCapture, ReplaysAsOnTheMachine) {
    const CaptureCase& c = GetParam();
#ifdef __APPLE__
    if (*c.environment != '\0') {
        GTEST_SKIP() << "the real registry and sysctl answer on a Mac";
    }
#endif
    FakeMacTools::Machine machine;
    machine.report = c.report;
    const FakeMacTools tools(machine);
    if (*c.ioreg != '\0') {
        tools.SetScript("ioreg", c.ioreg);
    }
    const ProcessResult onMachine = RunTestBuild(tools.Directory() + ":/usr/bin:/bin",
                                                 "grellaninspect' --snapshot", c.environment);
    ASSERT_EQ(onMachine.status, c.status) << onMachine.output;
    const TempDir dir;
    const std::string capture = dir.Write("capture", onMachine.output);
    const ProcessResult replayed = RunShell(Inspect("--from-snapshot '" + capture + "'"));
    EXPECT_EQ(replayed.status, c.status) << replayed.output;
    const Explained machineSide = Explain(onMachine.output);
    const Explained replaySide = Explain(replayed.output);
    EXPECT_EQ(replaySide.rest, machineSide.rest);
    ASSERT_FALSE(replaySide.steps.empty());
    EXPECT_EQ(replaySide.steps[0], "fallback capture from " + capture);
    ASSERT_LT(replaySide.steps.size(), machineSide.steps.size());
    EXPECT_TRUE(std::equal(replaySide.steps.begin() + 1, replaySide.steps.end(),
                           machineSide.steps.end() - (replaySide.steps.size() - 1)))
        << replayed.output;
    const nlohmann::json json = Json(RunShell(Inspect("--json --from-snapshot '" + capture + "'")));
    EXPECT_EQ(json["source"], "fallback-capture");
}

INSTANTIATE_TEST_SUITE_P(
    Machines, InspectCapture,
    ::testing::Values(
        CaptureCase{"IntelReport", "", "", "", 0},
        CaptureCase{"AppleM1ProReport",
                    RealReport("system_profiler/apple-m1-pro-macbookpro18-3.txt"), "", "", 0},
        CaptureCase{"AppleM3ReportAndBoard", RealReport("system_profiler/apple-m3-mac15-12.txt"),
                    "", "GRELLAN_TEST_BOARD_SERIAL=C02145600G8Q0PYAB", 0},
        CaptureCase{"JapaneseReportFromLabelFreeValues",
                    "ハードウェア:\n\n      チップ: Apple M1\n      シリアル番号（システム）: X1\n",
                    "", "GRELLAN_TEST_PLATFORM_SERIAL=X1 GRELLAN_TEST_CPU_BRAND='Apple M1'", 0},
        // The report commands end first; the capture holds their lines and why
        // there is no fingerprint.
        CaptureCase{"RegistryDumpFails", "", "sleep 0.3; exit 3", "", 3}),
    grellan::testing::CaseName());

TEST(InspectExamples, CheckedInSnapshotsStillGiveTheirFingerprints) {
    const std::string examples = std::string(GRELLAN_SOURCE_DIR) + "/examples";
    const nlohmann::json v22 =
        Json(RunShell(Inspect("--json --from-snapshot '" + examples + "/smbios-2.2.snapshot'")));
    const nlohmann::json v28 = Json(RunShell(
        Inspect("--json --from-snapshot '" + examples + "/smbios-2.8-two-cpus.snapshot'")));
    EXPECT_EQ(v22["fingerprint"], ReferenceMd5("CHS-22-0001SYS-22-0001MB-22-0001"));
    EXPECT_EQ(v28["fingerprint"], ReferenceMd5("CHS-28-0002SYS-28-0002MB-28-0002CPU-28-ACPU-28-B"));
    // A capture of version 1 replays as it did when it was taken: the
    // unique-chip-id's bytes 1E 2D 01 41 5A 33 00 00 give "-AZ3", and the
    // board data ends at its first zero byte.
    const nlohmann::json m2 = Json(
        RunShell(Inspect("--json --from-snapshot '" + examples + "/fallback-apple-m2.snapshot'")));
    EXPECT_EQ(m2["fingerprint"],
              ReferenceMd5("EXAMPLE0M201EXAMPLE0M201EXAMPLEBOARD0M201Apple M2 -AZ3"));
}

TEST(InspectJson, SlotsAreThePlainDigestInput) {
    // GetString makes the control byte and the byte above 0x7F blanks; the
    // quote and the backslash stay and JSON escapes them once.
    const Bytes table = TableBuilder()
                            .AddSerial(3, 3,
                                       "A\"B\\C\x01"
                                       "D\xE9"
                                       "E")
                            .AddSerial(1, 1, "S\\1")
                            .AddEnd()
                            .Table();
    const TempDir dir;
    const std::string file = dir.Write("s", TableBuilder::Snapshot(2, 8, table));
    const ProcessResult result = RunShell(Inspect("--json --from-snapshot '" + file + "'"));
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find(R"("chassis": "A\"B\\C D E")"), std::string::npos)
        << result.output;
    const nlohmann::json json = Json(result);
    EXPECT_EQ(json["schema"], 1);
    EXPECT_EQ(json["tool_version"], GRELLAN_VERSION_STRING);
    EXPECT_EQ(json["fingerprint"], ReferenceMd5("A\"B\\C D ES\\1"));
    EXPECT_EQ(Md5OfJsonSlots(json), json["fingerprint"]);
    EXPECT_EQ(json["structures"][0]["hex"], "4122425c4320442045");
}

TEST(InspectJson, StructuresListEachSerialApart) {
    const nlohmann::json json =
        Json(RunShell(Inspect("--json --from-snapshot '" + std::string(GRELLAN_SOURCE_DIR) +
                              "/examples/smbios-2.8-two-cpus.snapshot'")));
    const nlohmann::json& structures = json["structures"];
    ASSERT_EQ(structures.size(), 5U);
    EXPECT_EQ(structures[3], nlohmann::json::parse(R"({"slot": "processor", "type": 4,
        "handle": 4, "string_number": 3, "serial": "CPU-28-A", "hex": "4350552d32382d41"})"));
    EXPECT_EQ(structures[4]["serial"], "CPU-28-B");
}

std::string ExampleSnapshot() {
    return grellan::testing::ReadFile(std::string(GRELLAN_SOURCE_DIR) +
                                      "/examples/smbios-2.8-two-cpus.snapshot");
}

TEST(InspectSnapshotInput, WrappedTextGivesTheSameFingerprint) {
    std::string text = ExampleSnapshot();
    std::string wrapped = "  ";
    for (std::size_t i = 0; i < text.size(); i += 76) {
        wrapped += text.substr(i, 76) + "\r\n  ";
    }
    const TempDir dir;
    const std::string file = dir.Write("wrapped", wrapped);
    const ProcessResult result = RunShell(Inspect("--from-snapshot '" + file + "'"));
    EXPECT_EQ(result.status, 0);
    // The fingerprint docs/support.md shows for this example.
    EXPECT_NE(result.output.find("fingerprint: 3e5db3ad7030fb34d6e6e8fa8be8a11c"),
              std::string::npos)
        << result.output;
}

TEST(InspectSnapshotInput, CutTextIsRejectedNamingBothLengths) {
    const TempDir dir;
    const std::string file = dir.Write("cut", ExampleSnapshot().substr(0, 300));
    const ProcessResult result =
        RunShell(Inspect("--from-snapshot '" + file + "' 2>&1 >/dev/null"));
    EXPECT_EQ(result.status, 2);
    // 300 characters decode to 225 bytes; the prefix declares 16 + 376.
    EXPECT_NE(result.output.find("decodes to 225 bytes, fewer than the 392"), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("not a table snapshot"), std::string::npos) << result.output;
}

// Each real table's fingerprint (tests/data/smbios, serials masked), the
// warnings its serials call for, as "code:slot" in sorted order, and where
// indexing stopped for the one broken table.
struct RealTable {
    const char* file;
    const char* fingerprint;
    std::string warnings;
    std::string stopped;
};

const std::vector<RealTable> kRealTables = {
    {"sidero-ASRock-Single-Ryzen.bin", "2ca916a904314974d9e9749d4d940f71",
     "placeholder:chassis placeholder:processor placeholder:system", ""},
    {"sidero-Beelink-EQ12.bin", "b80441585ffbc16859c58584b07cd3e0",
     "placeholder:baseboard placeholder:chassis placeholder:processor", ""},
    {"sidero-Dell-PowerEdge-R630-Dual-Xeon.bin", "a140f29fc463b5ac9ff28bcd3d3446c4",
     "empty:processor", ""},
    {"sidero-HyperV.bin", "151df150e97ea6760f44944aa8a1d344",
     "empty:processor vm:baseboard vm:chassis vm:system", "478 6 length below 4"},
    {"sidero-SuperMicro-Dual-Xeon.bin", "2f3d27d3f7d3ea47e76eb2a905cd7c8a", "empty:processor", ""},
    {"sidero-SuperMicro-Quad-Opteron.bin", "545dd46ce88b164960dd49087677285e",
     "placeholder:baseboard placeholder:chassis placeholder:processor placeholder:system", ""},
    {"smbioslib-jeffgerlap_3_2_0.bin", "658122a395f2c057d8354dc27af90bbc", "placeholder:processor",
     ""},
    {"uroot-Asus-UX307LA.bin", "49ac5a055fc3d85af60574b8d201a2f8",
     "placeholder:baseboard placeholder:processor", ""},
    {"uroot-GigaByte-X399.bin", "fecab4fcf10e7e9c149265030852be6b",
     "placeholder:baseboard placeholder:chassis placeholder:processor placeholder:system", ""},
    {"uroot-Gigabyte-GA-MA74GMT-S2.bin", "d41d8cd98f00b204e9800998ecf8427e",
     "empty:baseboard empty:chassis empty:processor empty:system no-serials:-", ""},
    {"uroot-Lenovo-ThinkPad-T480.bin", "358a2379e83648e802b94d0a6ee365e8", "placeholder:processor",
     ""},
    {"uroot-Lenovo-ThinkPad-W510.bin", "482e92f28d7088f4822b228420561bfc", "empty:processor", ""},
    {"uroot-MSI-MS-7816.bin", "66f855871055f4cee09a370116521076",
     "empty:processor placeholder:baseboard placeholder:chassis placeholder:system", ""},
    {"uroot-SuperMicro-X9DBL.bin", "9eb19f7e1879c1a87588784ff7927ef2",
     "empty:processor placeholder:chassis", ""},
    {"uroot-Synology-RS3614xsp.bin", "5e8c17fad665265f73092f346d0346a0",
     "empty:processor placeholder:baseboard placeholder:chassis placeholder:system", ""},
    {"uroot-Toshiba-SatellitePro-L70.bin", "3b51eb1b5760911974d8a1823fd3e059",
     "placeholder:baseboard placeholder:chassis placeholder:processor", ""},
    {"uroot-VMWare.bin", "83be466bd5fbf2ceda6b97a3df2a632c",
     "empty:processor placeholder:baseboard placeholder:chassis vm:system", ""},
};

TEST(InspectRealTables, EachGetsTheWarningsItsSerialsCallFor) {
    const std::string tables = grellan::testing::RealTableDirectory();
    const TempDir dir;
    for (const RealTable& real : kRealTables) {
        SCOPED_TRACE(real.file);
        const std::string path = tables + "/" + real.file;
        std::string input = "--from-dmi '" + path + "'";
        const std::string dump = grellan::testing::ReadFile(path);
        if (dump.rfind("_SM3_", 0) == 0) {
            const ProcessResult refused = RunShell(Inspect(input + " 2>&1 >/dev/null"));
            EXPECT_EQ(refused.status, 2);
            EXPECT_NE(refused.output.find("does not read such an entry point"), std::string::npos);
            // Its table is explained from a snapshot instead.
            input = "--from-snapshot '" +
                    dir.Write(real.file, grellan::testing::SnapshotOfSm3Dump(dump)) + "'";
        }
        const ProcessResult result = RunShell(Inspect("--json " + input));
        ASSERT_EQ(result.status, 0);
        const nlohmann::json json = Json(result);
        std::vector<std::string> codes;
        for (const nlohmann::json& warning : json["warnings"]) {
            codes.push_back(warning["code"].get<std::string>() + ":" +
                            (warning["slot"].is_null() ? "-" : warning["slot"].get<std::string>()));
        }
        std::sort(codes.begin(), codes.end());
        std::string joined;
        for (const std::string& code : codes) {
            joined += (joined.empty() ? "" : " ") + code;
        }
        EXPECT_EQ(joined, real.warnings);
        const nlohmann::json& stopped = json["table"]["stopped"];
        EXPECT_EQ(stopped.is_null() ? ""
                                    : stopped["offset"].dump() + " " + stopped["structure"].dump() +
                                          " " + stopped["reason"].get<std::string>(),
                  real.stopped);
        EXPECT_EQ(Md5OfJsonSlots(json), json["fingerprint"]);
        EXPECT_EQ(json["fingerprint"], real.fingerprint);
    }
}

TEST(InspectDiff, NamesTheSlotAndStructureThatDiffer) {
    const auto table = [](const std::string& system) {
        return TableBuilder::Snapshot(
            2, 8, TableBuilder().AddSerial(3, 3, "CH").AddSerial(1, 1, system).AddEnd().Table());
    };
    const TempDir dir;
    const std::string a = dir.Write("a", table("SYS-1"));
    const std::string b = dir.Write("b", table("SYS-2"));
    const ProcessResult differ = RunShell(Inspect("--diff '" + a + "' - < '" + b + "'"));
    EXPECT_EQ(differ.status, 4);
    EXPECT_NE(differ.output.find("slot system differs: \"SYS-1\" -> \"SYS-2\""), std::string::npos)
        << differ.output;
    EXPECT_NE(differ.output.find("structure type 1 handle 0x0001 (system) differs"),
              std::string::npos);
    EXPECT_EQ(differ.output.find("chassis differs"), std::string::npos);
    EXPECT_NE(differ.output.find("fingerprints differ"), std::string::npos);

    const nlohmann::json json = Json(RunShell(Inspect("--json --diff '" + a + "' '" + b + "'")));
    ASSERT_EQ(json["slots"].size(), 1U);
    EXPECT_EQ(json["slots"][0]["slot"], "system");
    EXPECT_EQ(json["same_fingerprint"], false);

    const ProcessResult same = RunShell(Inspect("--diff '" + a + "' '" + a + "'"));
    EXPECT_EQ(same.status, 0);
    EXPECT_NE(same.output.find("same fingerprint"), std::string::npos);
}

TEST(InspectDiff, ReadsAJsonReportAndARawTableAsEitherSide) {
    const TempDir dir;
    const Bytes table = TwoProcessorTable();
    const std::string snapshot = dir.Write("s", TableBuilder::Snapshot(2, 8, table));
    const std::string report = dir.Write(
        "report.json", RunShell(Inspect("--json --from-snapshot '" + snapshot + "'")).output);
    // The same table as Linux exposes it, its entry point in a file beside it.
    dir.Write("smbios_entry_point",
              AsText(grellan::testing::EntryPoint21(2, 8, table.size(), 0xBFF00000, 0x28)));
    const std::string raw = dir.Write("DMI", AsText(table));
    for (const std::string& order :
         {"'" + report + "' '" + raw + "'", "'" + raw + "' - < '" + report + "'"}) {
        const ProcessResult same = RunShell(Inspect("--diff " + order));
        EXPECT_EQ(same.status, 0) << same.output;
        EXPECT_NE(same.output.find("same fingerprint"), std::string::npos) << same.output;
    }
}

struct CommandCase {
    const char* name;
    std::string command;  // arguments and redirections; standard error is captured
    int status;
    std::string message;
};

class InspectCommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(InspectCommandLine, RefusesWithTheReason) {
    const ProcessResult result = RunShell(Inspect(GetParam().command));
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InspectCommandLine,
    ::testing::Values(
        CommandCase{"ExtraArgument", "dump.bin 2>&1 >/dev/null", 1,
                    "unexpected argument 'dump.bin'"},
        CommandCase{"DiffWithOneInput", "--diff a 2>&1 >/dev/null", 1, "needs two inputs"},
        CommandCase{"MissingFile", "--from-dmi /nonexistent/dump.bin 2>&1 >/dev/null", 2,
                    "cannot read /nonexistent/dump.bin: No such file or directory"},
        CommandCase{"Directory", "--from-snapshot / 2>&1 >/dev/null", 2,
                    "cannot read /: Is a directory"},
        CommandCase{"DevZero", "--from-snapshot /dev/zero 2>&1 >/dev/null", 2,
                    "/dev/zero is larger than 16 MiB"},
        CommandCase{"EndlessPipe", "--from-snapshot - 2>&1 >/dev/null < /dev/zero", 2,
                    "standard input is larger than 16 MiB"},
        CommandCase{"FullDisk", "--version 2>&1 >/dev/full", 5,
                    "cannot write to standard output: No space left on device"},
        CommandCase{"Version", "--version", 0,
                    std::string("grellaninspect ") + GRELLAN_VERSION_STRING + "\n"}),
    grellan::testing::CaseName());

}  // namespace
