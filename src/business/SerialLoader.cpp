#include "business/SerialLoader.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstring>
#include <vector>

#include "business/CommandFailed.h"
#include "common/Base64Coder.h"
#include "common/MacXMLToJSONParser.h"
#include "common/TirselFunctions.h"
#include "platform/CommandRunner.h"
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

// The output of `command`; a command that gives no usable answer ends the
// fallback computation: its serial would be missing, and a fingerprint
// without it names a different machine.
std::string OutputOrThrow(const std::string& command) {
    const std::string watchedTool = WatchedToolOf(command);
    platform::CommandResult result = platform::CommandRunner::Run(command, watchedTool);
    const std::string failure = Unusable(result, watchedTool);
    if (!failure.empty()) {
        throw CommandFailed(command, failure);
    }
    return std::move(result.output);
}

}  // namespace

// The command comes by value: that is the interface hosts of this class know.
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
    return GetMachineSerial().text;
}

ReportLine::Value SerialLoader::GetMachineSerial() {
    return ReportLine::Pick(kMachineSerialCommand, OutputOrThrow(kMachineSerialCommand),
                            ReportLine::Label::MachineSerial);
}

std::string SerialLoader::GetChassisSerial() {
    return GetSystemSerial();
}

std::string SerialLoader::GetProcessorSerial() {
    return GetProcessorSerialParts().Serial();
}

SerialLoader::ProcessorSerial SerialLoader::GetProcessorSerialParts() {
    ProcessorSerial serial;
    ReportLine::Value name =
        ReportLine::Pick(kProcessorNameCommand, OutputOrThrow(kProcessorNameCommand),
                         ReportLine::Label::ProcessorName);
    serial.name = std::move(name.text);
    serial.nameSource = name.source;
    boost::property_tree::ptree tree;
    // The parser takes the dump over and reads it where the command left it.
    common::MacXMLToJSONParser parser(OutputOrThrow(kRegistryDumpCommand), tree);
    parser.Parse("plist");
    // Without a chip identifier the processor serial is the name and a blank.
    const auto chip = parser.SearchNode(tree, "unique-chip-id");
    if (chip) {
        for (const std::string& run : common::Base64Coder().DecodeStringBytes(chip->data())) {
            serial.chip += run;
        }
    }
    return serial;
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
