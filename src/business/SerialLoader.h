#pragma once

#include <string>

#include "business/ReportLine.h"
#include "business/ValueSource.h"

namespace tirsel::kvl::agent::driver::business {

// The four serials from the operating system's own tools and registry, for
// machines whose SMBIOS table cannot be obtained. Stateless: every getter runs
// its commands again.
class SerialLoader {
public:
    // The processor serial's two parts; the serial is name, a blank, chip.
    struct ProcessorSerial {
        std::string name;  // of the Chip or Processor Name line, trimmed
        std::string chip;  // the printable runs of the decoded unique-chip-id
        ValueSource nameSource = ValueSource::ReportLine;
        std::string Serial() const { return name + ' ' + chip; }
        bool Identified() const { return !name.empty() || !chip.empty(); }
    };

    // The processor serial as one text: the class's published interface; the
    // fingerprint takes the parts, which also tell whether any was found.
    std::string GetProcessorSerial();
    ProcessorSerial GetProcessorSerialParts();
    std::string GetChassisSerial();
    std::string GetSystemSerial();
    // The machine serial, for the chassis and the system slot alike, and
    // where it came from (ReportLine::Pick): each call runs its command.
    ReportLine::Value GetMachineSerial();
    std::string GetBaseBoardSerial();

    // Field 1 (between the first and second colon) of the command's output,
    // trimmed at both ends; empty without a colon. Throws CommandFailed when
    // the command gives no usable answer (not run to its end, exit status 2
    // or more, or grep's "no match" after the watched system_profiler
    // failed), as GetProcessorSerial does for the registry dump: no serial is
    // better than a wrong one. The class's published interface: the two
    // report values of the fingerprint go through ReportLine::Pick, which
    // takes this field from the lines with the English label only.
    std::string ProcessComand(std::string command);

    // The field logic of ProcessComand over a command's output.
    static std::string SecondField(const std::string& output);
};

}  // namespace tirsel::kvl::agent::driver::business
