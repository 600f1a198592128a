#include "business/SerialLoader.h"

#include <array>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <cstring>
#include <exception>
#include <vector>

#include "business/CommandFailed.h"
#include "common/Base64Coder.h"
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
const char kReportTool[] = "system_profiler";

// The tool the loader watches when it runs `command`: the report tool for
// its two system_profiler commands, none for anything else.
std::string WatchedToolOf(const std::string& command) {
    const bool watched = command == kProcessorNameCommand || command == kMachineSerialCommand;
    return watched ? std::string(kReportTool) : std::string();
}

// Why `result` is no usable answer; empty when it is. A command must run to
// its end; status 2 or more is an error (grep's, or the tool's); status 1 is
// grep's "no match", an empty field, unless the watched tool in front of
// grep failed, which the "no match" would hide.
std::string Unusable(const platform::CommandResult& result, const std::string& watchedTool) {
    if (!result.Exited() || result.exitStatus >= 2) {
        return result.reason;
    }
    if (result.exitStatus == 1 && !watchedTool.empty() && result.toolStatus != 0) {
        return watchedTool + " " + result.ToolEnding() + ", and grep matched nothing";
    }
    return std::string();
}

// Runs `command` on its own through the library's settings.
platform::CommandResult RunAlone(const std::string& command, const std::string& watchedTool) {
    const platform::CommandSettings& settings = platform::CurrentCommandSettings();
    return platform::CommandRunner::Run({command, watchedTool}, settings,
                                        settings.ToolEnvironment());
}

// The output of `command`; a command that gives no usable answer ends the
// fallback computation: its serial would be missing, and a fingerprint
// without it names a different machine.
std::string OutputOrThrow(const std::string& command) {
    const std::string watchedTool = WatchedToolOf(command);
    platform::CommandResult result = RunAlone(command, watchedTool);
    const std::string failure = Unusable(result, watchedTool);
    if (!failure.empty()) {
        throw CommandFailed(command, failure);
    }
    return std::move(result.output);
}

// The printable runs of the "unique-chip-id" that the registry dump holds,
// joined; empty without one. Throws what the parser throws.
std::string ChipIdentifier(std::string dump) {
    boost::property_tree::ptree tree;
    // The parser takes the dump over and reads it where the command left it.
    common::MacXMLToJSONParser parser(std::move(dump), tree);
    parser.Parse("plist");
    std::string chip;
    const auto found = parser.SearchNode(tree, "unique-chip-id");
    if (found) {
        for (const std::string& run : common::Base64Coder().DecodeStringBytes(found->data())) {
            chip += run;
        }
    }
    return chip;
}

// The fallback's commands, in the order the serials are loaded: the
// processor's two, then the machine serial of the chassis and system slots.
enum class Gives { ProcessorName, ProcessorChip, MachineSerial };
struct FallbackCommand {
    const char* text;
    Gives gives;
    const char* role;  // for people
};
constexpr std::size_t kFallbackCount = 3;
const std::array<FallbackCommand, kFallbackCount> kFallbackCommands = {{
    {kProcessorNameCommand, Gives::ProcessorName, "processor name"},
    {kRegistryDumpCommand, Gives::ProcessorChip, "processor chip (registry dump)"},
    {kMachineSerialCommand, Gives::MachineSerial, "chassis and system serial"},
}};

// Where the output of a fallback command goes in `serials`: the one place
// the commands' outputs become serials. Throws what ReportLine::Pick and the
// parser throw.
void TakeOutput(Gives gives, std::string output, SerialLoader::CommandSerials& serials) {
    switch (gives) {
        case Gives::ProcessorName: {
            ReportLine::Value name =
                ReportLine::Pick(kProcessorNameCommand, output, ReportLine::Label::ProcessorName);
            serials.processor.name = std::move(name.text);
            serials.processor.nameSource = name.source;
            break;
        }
        case Gives::ProcessorChip:
            serials.processor.chip = ChipIdentifier(std::move(output));
            break;
        case Gives::MachineSerial:
            serials.machine =
                ReportLine::Pick(kMachineSerialCommand, output, ReportLine::Label::MachineSerial);
            break;
    }
}

}  // namespace

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
    return ReportLine::Pick(kMachineSerialCommand, OutputOrThrow(kMachineSerialCommand),
                            ReportLine::Label::MachineSerial)
        .text;
}

std::string SerialLoader::GetChassisSerial() {
    return GetSystemSerial();
}

std::string SerialLoader::GetProcessorSerial() {
    ProcessorSerial serial;
    serial.name = ReportLine::Pick(kProcessorNameCommand, OutputOrThrow(kProcessorNameCommand),
                                   ReportLine::Label::ProcessorName)
                      .text;
    // Without a chip identifier the processor serial is the name and a blank.
    serial.chip = ChipIdentifier(OutputOrThrow(kRegistryDumpCommand));
    return serial.Serial();
}

SerialLoader::CommandSerials SerialLoader::RunCommandsTogether(std::vector<std::string>& steps) {
    constexpr std::size_t kCount = kFallbackCount;
    std::vector<platform::CommandRunner::Command> commands;
    commands.reserve(kCount);
    for (const FallbackCommand& command : kFallbackCommands) {
        commands.push_back({command.text, WatchedToolOf(command.text)});
    }
    CommandSerials serials;
    std::array<std::string, kCount> failures;
    std::array<bool, kCount> taken{};
    std::exception_ptr first;
    const platform::CommandSettings& settings = platform::CurrentCommandSettings();
    const std::vector<platform::CommandResult> results = platform::CommandRunner::RunTogether(
        commands, settings, settings.ToolEnvironment(),
        [&](std::size_t i, platform::CommandResult& result) noexcept {
            try {
                failures[i] = Unusable(result, commands[i].watchedTool);
                if (!failures[i].empty()) {
                    throw CommandFailed(commands[i].text, failures[i]);
                }
                TakeOutput(kFallbackCommands[i].gives, std::move(result.output), serials);
                taken[i] = true;
                return true;
            } catch (...) {
                first = std::current_exception();
                return false;
            }
        });
    // Without results the run could not even begin (out of memory).
    const auto reason = [&](std::size_t i) {
        return !failures[i].empty() ? failures[i]
               : i < results.size() ? results[i].reason
                                    : std::string("out of memory");
    };
    for (std::size_t i = 0; i < kCount; ++i) {
        steps.push_back(std::string(kFallbackCommands[i].role) + " (" + reason(i) +
                        "): " + commands[i].text);
    }
    if (first) {
        std::rethrow_exception(first);
    }
    // A command the run could not finish gave nothing.
    for (std::size_t i = 0; i < kCount; ++i) {
        if (!taken[i]) {
            throw CommandFailed(commands[i].text, reason(i));
        }
    }
    return serials;
}

std::string SerialLoader::GetBaseBoardSerial() {
    const platform::RegistryObject service = platform::MatchingService("IOPlatformExpertDevice");
    if (!service) {
        return std::string();
    }
    const auto property = platform::CopyProperty(service, CFSTR("mlb-serial-number"));
    // Only a data object holds the serial; anything else gives an empty one.
    const auto data = platform::DataBytes(property.Get());
    if (!data || data->length == 0) {
        return std::string();
    }
    // The serial ends at the first zero byte, or with the data itself.
    const auto* bytes = reinterpret_cast<const char*>(data->bytes);
    const auto* zero = static_cast<const char*>(std::memchr(bytes, 0, data->length));
    return std::string(bytes,
                       zero != nullptr ? static_cast<std::size_t>(zero - bytes) : data->length);
}

}  // namespace tirsel::kvl::agent::driver::business
