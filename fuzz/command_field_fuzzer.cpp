// The colon-field logic that reads system_profiler's output, on any text, and
// the choice of the lines with the English label that comes before it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "business/ReportLine.h"
#include "business/SerialLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tirsel::kvl::agent::driver::business::ReportLine;
    using tirsel::kvl::agent::driver::business::SerialLoader;
    const std::string output(reinterpret_cast<const char*>(data), size);
    const std::string field = SerialLoader::SecondField(output);
    // The field is a trimmed piece of the text between its first two colons.
    const std::size_t colon = output.find(':');
    if (colon == std::string::npos ? !field.empty() : field.size() > output.size() - colon - 1) {
        __builtin_trap();
    }
    if (field.find(':') != std::string::npos) {
        __builtin_trap();
    }
    // The labelled lines are lines of the text, so never longer; a text whose
    // every line carries the label (or is blank) comes back whole.
    for (const auto label : {ReportLine::Label::MachineSerial, ReportLine::Label::ProcessorName}) {
        const std::string lines = ReportLine::LabelledLines(output, label);
        if (lines.size() > output.size() ||
            (!lines.empty() && lines.find(':') == std::string::npos)) {
            __builtin_trap();
        }
        if (ReportLine::LabelledLines(lines, label) != lines) {
            __builtin_trap();
        }
    }
    return 0;
}
