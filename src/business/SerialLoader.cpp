#include "business/SerialLoader.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstring>
#include <vector>

#include "common/Base64Coder.h"
#include "common/CommandFailed.h"
#include "common/MacXMLToJSONParser.h"
#include "common/TirselFunctions.h"
#include "platform/RegistryService.h"

namespace tirsel::kvl::agent::driver::business {

using common::TirselFunctions;

namespace {

const char* const kProcessorNameCommand =
    "system_profiler SPHardwareDataType | grep -E -i \"Chip|Processor\\sName\"";
const char* const kRegistryDumpCommand = "ioreg -a  -l -p IODeviceTree -c IORegistryEntry";
const char* const kMachineSerialCommand =
    "system_profiler SPHardwareDataType | grep -E -i \"Serial\\sNumber\"";

// The tool in front of grep in the two system_profiler commands: its own
// failure is watched when a command starts with it.
const char kReportTool[] = "system_profiler";

std::string ToolInFront(const std::string& command) {
    const std::size_t length = sizeof kReportTool - 1;
    const bool watched = command.size() > length && command.compare(0, length, kReportTool) == 0 &&
                         command[length] == ' ';
    return watched ? std::string(kReportTool) : std::string();
}

// The output of `command`; a command that failed (see CommandResult::Failed)
// ends the fallback computation: its serial would be missing, and a
// fingerprint without it names a different machine. `watchedTool` is the
// tool in front of grep, whose own failure grep's "no match" would hide.
std::string OutputOrThrow(const std::string& command, const std::string& watchedTool) {
    common::CommandResult result = TirselFunctions::RunCommand(command, watchedTool);
    if (result.Failed()) {
        throw common::CommandFailed(command, result.failure);
    }
    return std::move(result.output);
}

}  // namespace

// The command comes by value: that is the interface hosts of this class know.
std::string SerialLoader::ProcessComand(
    std::string command) {  // NOLINT(performance-unnecessary-value-param)
    return SecondField(OutputOrThrow(command, ToolInFront(command)));
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
    return boost::algorithm::trim_copy(fields[1]);
}

std::string SerialLoader::GetSystemSerial() {
    return ProcessComand(kMachineSerialCommand);
}

std::string SerialLoader::GetChassisSerial() {
    return GetSystemSerial();
}

std::string SerialLoader::GetProcessorSerial() {
    return GetProcessorSerialParts().Serial();
}

SerialLoader::ProcessorSerial SerialLoader::GetProcessorSerialParts() {
    ProcessorSerial serial;
    serial.name = ProcessComand(kProcessorNameCommand);
    boost::property_tree::ptree tree;
    // The parser takes the dump over and reads it where the command left it.
    common::MacXMLToJSONParser parser(OutputOrThrow(kRegistryDumpCommand, std::string()), tree);
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
