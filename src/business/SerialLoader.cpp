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

// The output of `command`; a command that failed (not started, killed, past a
// bound, exit status 2 or more) ends the fallback computation: its serial
// would be missing, and a fingerprint without it names a different machine.
std::string OutputOrThrow(const std::string& command) {
    common::CommandResult result = TirselFunctions::RunCommand(command);
    if (result.Failed()) {
        throw common::CommandFailed(command);
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
    return boost::algorithm::trim_copy(fields[1]);
}

std::string SerialLoader::GetSystemSerial() {
    return ProcessComand(kMachineSerialCommand);
}

std::string SerialLoader::GetChassisSerial() {
    return GetSystemSerial();
}

std::string SerialLoader::GetProcessorSerial() {
    std::string serial = ProcessComand(kProcessorNameCommand);
    serial += ' ';
    boost::property_tree::ptree tree;
    // The parser takes the dump over and reads it where the command left it.
    common::MacXMLToJSONParser parser(OutputOrThrow(kRegistryDumpCommand), tree);
    parser.Parse("plist");
    // Without a chip identifier the processor serial is the name and a blank.
    const auto chip = parser.SearchNode(tree, "unique-chip-id");
    if (chip) {
        for (const std::string& run : common::Base64Coder().DecodeStringBytes(chip->data())) {
            serial += run;
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
