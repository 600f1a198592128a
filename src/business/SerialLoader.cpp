#include "business/SerialLoader.h"

#include <array>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <exception>
#include <utility>

#include "business/CommandFailed.h"
#include "business/FallbackSerials.h"
#include "business/LabelFreeValues.h"
#include "business/ReportLine.h"
#include "common/TirselFunctions.h"
#include "common/plist/MacXMLToJSONParser.h"
#include "platform/CommandRunner.h"
#include "platform/CommandSettings.h"
#include "platform/RegistryService.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

const char* const kProcessorNameCommand =
    "system_profiler SPHardwareDataType | grep -E -i \"Chip|Processor\\sName\"";
const char* const kRegistryDumpCommand = "ioreg -a  -l -p IODeviceTree -c IORegistryEntry";
const char* const kMachineSerialCommand =
    "system_profiler SPHardwareDataType | grep -E -i \"Serial\\sNumber\"";

// The tool in front of grep in the two system_profiler commands: grep's "no
// match" would hide its failure, so its own status is watched.
const char* const kReportTool = "system_profiler";

// The tool the loader watches when it runs `command`: the report tool for
// its two system_profiler commands, none for anything else.
const char* WatchedToolOf(const std::string& command) {
    const bool watched = command == kProcessorNameCommand || command == kMachineSerialCommand;
    return watched ? kReportTool : "";
}

// Whether `result` is a usable answer, and why not. A command must run to its
// end; status 2 or more is an error (grep's, or the tool's); status 1 is
// grep's "no match", an empty field, unless the watched tool in front of grep
// failed, which the "no match" would hide.
CommandVerdict VerdictOf(const platform::CommandEnding& ending, const char* watchedTool) {
    CommandVerdict verdict;
    verdict.ending = ending;
    verdict.watchedTool = watchedTool;
    if (!ending.Exited() || ending.exitStatus >= 2) {
        verdict.kind = CommandVerdict::Kind::Unfinished;
    } else if (ending.exitStatus == 1 && *watchedTool != '\0' && ending.toolStatus != 0) {
        verdict.kind = CommandVerdict::Kind::ToolFailed;
    }
    return verdict;
}

// The output of `command`, run on its own through the library's settings; a
// command that gives no usable answer ends the fallback computation: its
// serial would be missing, and a fingerprint without it names a different
// machine.
std::string OutputOrThrow(const std::string& command) {
    const char* const watchedTool = WatchedToolOf(command);
    const platform::CommandSettings& settings = platform::CurrentCommandSettings();
    platform::CommandResult result =
        platform::CommandRunner::Run({command, watchedTool}, settings, settings.ToolEnvironment());
    const CommandVerdict verdict = VerdictOf(result, watchedTool);
    if (verdict.kind != CommandVerdict::Kind::Usable) {
        throw CommandFailed(command, verdict);
    }
    return std::move(result.output);
}

// The text of the "unique-chip-id" that the registry dump holds; nothing
// without one. Throws what the parser throws.
std::optional<std::string> ChipIdText(std::string dump) {
    boost::property_tree::ptree tree;
    // The parser takes the dump over and reads it where the command left it.
    common::MacXMLToJSONParser parser(std::move(dump), tree);
    parser.Parse("plist");
    const auto found = parser.SearchNode(tree, "unique-chip-id");
    if (!found) {
        return std::nullopt;
    }
    return found->data();
}

constexpr std::size_t kFallbackCount = 3;
const std::array<FallbackCommand, kFallbackCount> kFallbackCommands = {
    FallbackCommand::ProcessorName, FallbackCommand::RegistryDump, FallbackCommand::MachineSerial};

// What `reading` takes of the output of `command`: the one place the
// commands' outputs are read. A report value without its labelled line takes
// the value of a source without a label instead. Throws what the parser
// throws, and CommandFailed where a report value has no source at all.
void Read(FallbackCommand command, std::string output, FallbackReading& reading) {
    if (command == FallbackCommand::RegistryDump) {
        reading.chipId = ChipIdText(std::move(output));
        return;
    }
    const ReportLine::Label label = command == FallbackCommand::MachineSerial
                                        ? ReportLine::Label::MachineSerial
                                        : ReportLine::Label::ProcessorName;
    std::optional<std::string>& lines = reading.Lines(label);
    lines = ReportLine::LabelledLines(output, label);
    if (lines->empty()) {
        reading.LabelFree(label) = label == ReportLine::Label::MachineSerial
                                       ? LabelFreeValues::PlatformSerial()
                                       : LabelFreeValues::BrandString();
    }
    FallbackSerials::RequireValue(reading, label);
}

// `command` run on its own, read into a reading of its own.
FallbackReading ReadAlone(FallbackCommand command) {
    FallbackReading reading;
    Read(command, OutputOrThrow(SerialLoader::CommandText(command)), reading);
    return reading;
}

}  // namespace

const char* SerialLoader::CommandText(FallbackCommand command) {
    switch (command) {
        case FallbackCommand::RegistryDump:
            return kRegistryDumpCommand;
        case FallbackCommand::MachineSerial:
            return kMachineSerialCommand;
        case FallbackCommand::ProcessorName:
            break;
    }
    return kProcessorNameCommand;
}

// The command comes by value, as callers of ProcessComand have always passed it.
std::string SerialLoader::ProcessComand(
    std::string command) {  // NOLINT(performance-unnecessary-value-param)
    return SecondField(OutputOrThrow(command));
}

std::string SerialLoader::SecondField(const std::string& output) {
    if (output.empty()) {
        return std::string();
    }
    std::vector<std::string> fields;
    boost::algorithm::split(fields, output, boost::algorithm::is_any_of(":"),
                            boost::algorithm::token_compress_off);
    if (fields.size() < 2) {
        return std::string();
    }
    // The "C" locale's white space, whatever locale the host has set.
    common::TirselFunctions::trim(fields[1]);
    return std::move(fields[1]);
}

std::string SerialLoader::GetSystemSerial() {
    const FallbackReading reading = ReadAlone(FallbackCommand::MachineSerial);
    return ReportLine::Pick(*reading.serialLines, reading.platformSerial,
                            ReportLine::Label::MachineSerial)
        ->text;  // RequireValue made sure of one
}

std::string SerialLoader::GetChassisSerial() {
    return GetSystemSerial();
}

std::string SerialLoader::GetProcessorSerial() {
    const FallbackReading named = ReadAlone(FallbackCommand::ProcessorName);
    const std::string name =
        ReportLine::Pick(*named.processorLines, named.brandString, ReportLine::Label::ProcessorName)
            ->text;
    // Without a chip identifier the processor serial is the name and a blank.
    return name + ' ' + FallbackSerials::ChipPart(ReadAlone(FallbackCommand::RegistryDump).chipId);
}

std::string SerialLoader::GetBaseBoardSerial() {
    return FallbackSerials::BoardSerial(ReadBoardData());
}

void SerialLoader::RunCommandsTogether(FallbackReading& reading, std::vector<FallbackStep>& steps) {
    std::vector<platform::CommandRunner::Command> commands;
    commands.reserve(kFallbackCount);
    for (const FallbackCommand command : kFallbackCommands) {
        commands.push_back({CommandText(command), WatchedToolOf(CommandText(command))});
    }
    std::array<CommandVerdict, kFallbackCount> verdicts;
    std::array<bool, kFallbackCount> taken{};
    std::exception_ptr first;
    const platform::CommandSettings& settings = platform::CurrentCommandSettings();
    const std::vector<platform::CommandResult> results = platform::CommandRunner::RunTogether(
        commands, settings, settings.ToolEnvironment(),
        [&](std::size_t i, platform::CommandResult& result) noexcept {
            try {
                verdicts[i] = VerdictOf(result, WatchedToolOf(commands[i].text));
                if (verdicts[i].kind != CommandVerdict::Kind::Usable) {
                    throw CommandFailed(commands[i].text, verdicts[i]);
                }
                Read(kFallbackCommands[i], std::move(result.output), reading);
                taken[i] = true;
                return true;
            } catch (...) {
                first = std::current_exception();
                return false;
            }
        });
    for (std::size_t i = 0; i < kFallbackCount; ++i) {
        // Not told of it: the run stopped it, or could not even begin (out of
        // memory) and left no result.
        if (!taken[i] && verdicts[i].kind == CommandVerdict::Kind::Usable) {
            platform::CommandEnding ending;
            ending.outcome = platform::CommandOutcome::OutOfMemory;
            if (i < results.size()) {
                ending = results[i];
            }
            verdicts[i] = VerdictOf(ending, WatchedToolOf(commands[i].text));
        }
        FallbackStep step;
        step.kind = FallbackStep::Kind::CommandEnded;
        step.command = kFallbackCommands[i];
        step.verdict = verdicts[i];
        steps.push_back(std::move(step));
    }
    if (first) {
        std::rethrow_exception(first);
    }
    // A command the run could not finish gave nothing.
    for (std::size_t i = 0; i < kFallbackCount; ++i) {
        if (!taken[i]) {
            throw CommandFailed(commands[i].text, verdicts[i]);
        }
    }
}

std::optional<std::string> SerialLoader::ReadBoardData() {
    const platform::RegistryObject service = platform::MatchingService("IOPlatformExpertDevice");
    if (!service) {
        return std::nullopt;
    }
    const auto property = platform::CopyProperty(service, CFSTR("mlb-serial-number"));
    // Only a data object holds the serial; anything else gives an empty one.
    const auto data = platform::DataBytes(property.Get());
    if (!data) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(data->bytes), data->length);
}

}  // namespace tirsel::kvl::agent::driver::business
