#include "business/SerialLoader.h"

#include <gtest/gtest.h>

#include <boost/property_tree/xml_parser.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "RegistryStandIn.h"
#include "TempDir.h"
#include "business/CommandFailed.h"
#include "business/HwHashCalculator.h"
#include "business/SerialComputation.h"

namespace {

using grellan::testing::FakeMacTools;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::business::CommandFailed;
using tirsel::kvl::agent::driver::business::CommandVerdict;
using tirsel::kvl::agent::driver::business::FallbackCommand;
using tirsel::kvl::agent::driver::business::FallbackStep;
using tirsel::kvl::agent::driver::business::HardwareSerials;
using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::business::SerialComputation;
using tirsel::kvl::agent::driver::business::SerialLoader;
using tirsel::kvl::agent::driver::platform::ScopedCommandSettings;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

struct FieldCase {
    const char* name;
    std::string output;  // printed by a real command through the shell
    std::string field;
};

class ProcessComandTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ProcessComandTest, ReturnsTheTrimmedSecondField) {
    const TempDir dir;
    const std::string file = dir.Write("output", GetParam().output);
    EXPECT_EQ(SerialLoader().ProcessComand("cat '" + file + "'"), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ProcessComandTest,
    ::testing::Values(FieldCase{"ChipLine", "      Chip: Model Z\n", "Model Z"},
                      FieldCase{"SerialLine", "      Serial Number (system): ABC123\n", "ABC123"},
                      FieldCase{"ThreeFields", "a:b:c", "b"}, FieldCase{"LeadingColon", ":x", "x"},
                      FieldCase{"TrailingColon", "x:", ""}, FieldCase{"AdjacentColons", "a::b", ""},
                      FieldCase{"NoColon", "no separator here\n", ""}, FieldCase{"Empty", "", ""},
                      FieldCase{"FieldRunsAcrossLines", "  Chip: Model Z\n  Second line: more\n",
                                "Model Z\n  Second line"},
                      FieldCase{"InnerWhiteSpaceKept", "k:\t a \t b \r\n", "a \t b"}),
    grellan::testing::CaseName());

// Grep's "no match" (status 1) is an empty field; a command that cannot be
// found (status 127), another failure or a signal ends the computation.
TEST(ProcessComand, NoMatchIsEmptyButAFailedCommandThrows) {
    EXPECT_EQ(SerialLoader().ProcessComand("echo a:b | grep nothing"), "");
    for (const char* command : {"grellan-no-such-tool", "echo a:b; exit 2", "kill -9 $$"}) {
        SCOPED_TRACE(command);
        EXPECT_THROW(SerialLoader().ProcessComand(command), CommandFailed);
    }
}

// grep's "no match" after a system_profiler that failed would hide that
// failure; after one that ran to a good end it is a missing label, for which
// the registry (empty here) has no stand-in.
struct ReportToolCase {
    const char* name;
    const char* tool;              // the fake system_profiler's script
    std::string serial;            // what GetSystemSerial gives, when it gives one
    CommandVerdict::Kind failure;  // why it throws instead
    int toolStatus;                // the status of system_profiler it names (ToolFailed)
};

class ReportToolTest : public ::testing::TestWithParam<ReportToolCase> {};

TEST_P(ReportToolTest, NoMatchHidesNoFailedTool) {
    const ReportToolCase& c = GetParam();
    const FakeMacTools tools;
    tools.SetScript("system_profiler", c.tool);
    const ScopedCommandSettings commands(tools.Directory());
    if (c.failure == CommandVerdict::Kind::Usable) {
        EXPECT_EQ(SerialLoader().GetSystemSerial(), c.serial);
        EXPECT_EQ(SerialLoader().GetChassisSerial(), c.serial);
        return;
    }
    try {
        SerialLoader().GetSystemSerial();
        ADD_FAILURE() << "no failure";
    } catch (const CommandFailed& e) {
        EXPECT_EQ(e.Verdict().kind, c.failure);
        if (c.failure == CommandVerdict::Kind::ToolFailed) {
            EXPECT_EQ(std::string(e.Verdict().watchedTool), "system_profiler");
            EXPECT_EQ(e.Verdict().ending.toolStatus, c.toolStatus);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ReportToolTest,
    ::testing::Values(
        // The shell reports a tool killed by signal 9 as status 128 + 9.
        ReportToolCase{"KilledBySignal", "kill -9 $$", "", CommandVerdict::Kind::ToolFailed, 137},
        ReportToolCase{"ExitOneWithoutOutput", "exit 1", "", CommandVerdict::Kind::ToolFailed, 1},
        ReportToolCase{"ExitOneAfterTheLine", "echo 'Serial Number: A1'; exit 1", "A1",
                       CommandVerdict::Kind::Usable, 0},
        ReportToolCase{"ExitZeroWithoutTheLine", "echo Hardware:", "",
                       CommandVerdict::Kind::NoMachineSerial, 0}),
    grellan::testing::CaseName());

struct ProcessorCase {
    const char* name;
    FakeMacTools::Machine machine;
    std::string serial;
};

FakeMacTools::Machine MachineWith(std::string name, std::string chip, bool withChip = true) {
    FakeMacTools::Machine machine;
    machine.processorName = std::move(name);
    machine.chipIdBase64 = std::move(chip);
    machine.withChipId = withChip;
    return machine;
}

class ProcessorSerialTest : public ::testing::TestWithParam<ProcessorCase> {};

TEST_P(ProcessorSerialTest, NameBlankAndPrintableChipBytes) {
    const FakeMacTools tools(GetParam().machine);
    const ScopedCommandSettings commands(tools.Directory());
    EXPECT_EQ(SerialLoader().GetProcessorSerial(), GetParam().serial);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, ProcessorSerialTest,
    ::testing::Values(ProcessorCase{"Typical", MachineWith("Intel Core i7", "QUJDRA=="),
                                    "Intel Core i7 ABCD"},
                      ProcessorCase{"ZeroByteDropped", MachineWith("X1", "QQBC"), "X1 AB"},
                      ProcessorCase{"NothingAtAll", MachineWith("", ""), " "},
                      ProcessorCase{"NoChipId", MachineWith("X1", "", false), "X1 "},
                      ProcessorCase{"NoNameLine", MachineWith("", "QUJD"), " ABC"}),
    grellan::testing::CaseName());

TEST(ProcessorSerial, UnreadableRegistryDumpThrows) {
    const FakeMacTools tools;
    const ScopedCommandSettings commands(tools.Directory());
    tools.SetRegistryDump("ioreg: no such plane\n");
    EXPECT_THROW(SerialLoader().GetProcessorSerial(), std::logic_error);
    tools.SetRegistryDump("<plist><dict><key>a</key></plist>\n");
    EXPECT_THROW(SerialLoader().GetProcessorSerial(),
                 boost::property_tree::xml_parser::xml_parser_error);
}

struct BoardCase {
    const char* name;
    bool service;
    bool isData;
    std::string bytes;
    std::string serial;
};

class BaseBoardSerialTest : public ::testing::TestWithParam<BoardCase> {};

TEST_P(BaseBoardSerialTest, ReadsMlbSerialNumberUpToItsFirstZeroByte) {
    const BoardCase& c = GetParam();
    const standin::ScopedRegistry registry;
    if (c.service) {
        standin::AddService("IOPlatformExpertDevice");
    }
    if (c.service && c.isData) {
        standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number", c.bytes);
    } else if (c.service && !c.bytes.empty()) {
        standin::SetNonDataProperty("IOPlatformExpertDevice", "mlb-serial-number", c.bytes);
    }
    EXPECT_EQ(SerialLoader().GetBaseBoardSerial(), c.serial);
    EXPECT_EQ(standin::OutstandingReferences(), 0U);
    EXPECT_EQ(standin::InvalidReleases(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, BaseBoardSerialTest,
    ::testing::Values(BoardCase{"Terminated", true, true,
                                std::string("C0290250NQ7GWJHAB\0\0\0", 20), "C0290250NQ7GWJHAB"},
                      BoardCase{"FirstByteZero", true, true, std::string("\0ABC", 4), ""},
                      BoardCase{"NoZeroByteTakesTheWholeData", true, true, "ABC", "ABC"},
                      BoardCase{"EmptyData", true, true, "", ""},
                      BoardCase{"NotData", true, false, "C02-STRING", ""},
                      BoardCase{"NoProperty", true, false, "", ""},
                      BoardCase{"NoService", false, true, "", ""}),
    grellan::testing::CaseName());

// The fallback runs each of its three commands once, at the same time, and
// the chassis and system slots take the one machine serial it printed; then
// it queries the registry once. The steps tell each command's outcome in the
// order the serials are loaded.
TEST(FallbackCommands, EachRunsOnceAndTheMachineSerialFillsBothSlots) {
    const TempDir dir;
    const std::string log = dir.Path() + "/log";
    const FakeMacTools::Machine machine;
    dir.Write("report", FakeMacTools::HardwareReport(machine));
    dir.Write("dump", FakeMacTools::RegistryDump(machine));
    // Every run prints a serial of its own (its process id).
    dir.WriteScript("system_profiler",
                    "echo \"system_profiler $*\" >> '" + log +
                        "'\n"
                        "sed \"s/Serial Number (system): .*/Serial Number (system): RUN$$/\" '" +
                        dir.Path() + "/report'\n");
    dir.WriteScript("ioreg", "echo \"ioreg $*\" >> '" + log + "'\ncat '" + dir.Path() + "/dump'\n");
    const ScopedCommandSettings commands(dir.Path());
    const standin::ScopedRegistry registry;
    standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                             std::string("MLB\0", 4));

    const SerialComputation computation = SerialComputation::OfFallbackTools();
    const HardwareSerials& serials = computation.Serials();
    std::multiset<std::string> runs;
    std::istringstream lines(grellan::testing::ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
        runs.insert(line);
    }
    EXPECT_EQ(runs, (std::multiset<std::string>{"ioreg -a -l -p IODeviceTree -c IORegistryEntry",
                                                "system_profiler SPHardwareDataType",
                                                "system_profiler SPHardwareDataType"}));
    EXPECT_EQ(serials.processor, machine.processorName + " ABCD");
    EXPECT_EQ(serials.chassis.rfind("RUN", 0), 0U) << serials.chassis;
    EXPECT_EQ(serials.system, serials.chassis);
    EXPECT_EQ(serials.baseboard, "MLB");
    EXPECT_EQ(HwHashCalculator::DigestInput(serials),
              serials.system + serials.system + "MLB" + machine.processorName + " ABCD");
    const std::vector<FallbackStep>& steps = computation.fallback;
    ASSERT_EQ(steps.size(), 4U);
    EXPECT_EQ(steps[0].kind, FallbackStep::Kind::AskingTools);
    const FallbackCommand order[] = {FallbackCommand::ProcessorName, FallbackCommand::RegistryDump,
                                     FallbackCommand::MachineSerial};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(steps[i + 1].kind, FallbackStep::Kind::CommandEnded);
        EXPECT_EQ(steps[i + 1].command, order[i]);
        EXPECT_EQ(steps[i + 1].verdict.kind, CommandVerdict::Kind::Usable);
        EXPECT_EQ(steps[i + 1].verdict.ending.exitStatus, 0);
    }
}

// A failing tool ends the computation: it says which command failed and why,
// and CalculateHwHash throws what the source threw, unchanged.
TEST(FallbackFailure, IsReportedAndRethrownUnchanged) {
    const standin::ScopedRegistry registry;
    namespace platform = tirsel::kvl::agent::driver::platform;
    const platform::ScopedFirmwarePaths paths(platform::WithoutMemoryDevice());
    const FakeMacTools tools;
    const ScopedCommandSettings commands(tools.Directory());
    const auto calculate = [] { (void)HwHashCalculator().CalculateHwHash(); };

    tools.SetScript("ioreg", "exit 3");
    SerialComputation computation = SerialComputation::OfThisMachine();
    EXPECT_FALSE(computation.table);
    EXPECT_FALSE(computation.serials);
    ASSERT_TRUE(computation.failedCommand);
    EXPECT_EQ(computation.failedCommand->command,
              "ioreg -a  -l -p IODeviceTree -c IORegistryEntry");
    EXPECT_EQ(computation.failedCommand->verdict.kind, CommandVerdict::Kind::Unfinished);
    EXPECT_EQ(computation.failedCommand->verdict.ending.exitStatus, 3);
    EXPECT_EQ(computation.fallback.back().kind, FallbackStep::Kind::GaveNoAnswer);
    EXPECT_THROW(calculate(), CommandFailed);

    tools.SetRegistryDump("<plist><dict><key>a</key></plist>\n");
    computation = SerialComputation::OfThisMachine();
    EXPECT_FALSE(computation.failedCommand);
    EXPECT_EQ(computation.fallback.back().kind, FallbackStep::Kind::DumpUnreadable);
    EXPECT_THROW(calculate(), boost::property_tree::xml_parser::xml_parser_error);
}

}  // namespace
