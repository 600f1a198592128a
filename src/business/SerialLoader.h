#pragma once

#include <string>
#include <vector>

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

    // What the fallback's commands give the fingerprint.
    struct CommandSerials {
        ProcessorSerial processor;
        // The machine serial (ReportLine::Pick) and where it came from: the
        // chassis and the system slot both take this one text.
        ReportLine::Value machine;
    };

    // Runs the processor-name command, the registry dump and the
    // machine-serial command once each, all at the same time, and parses the
    // dump as soon as it is complete. The first command that gives no usable
    // answer (or a dump the parser cannot read) decides: the others are
    // killed at once, and it is thrown as the getters throw it. `steps` gets
    // each command's outcome, in the order the serials are loaded, either way.
    CommandSerials RunCommandsTogether(std::vector<std::string>& steps);

    // The getters below run their commands one by one, each on its own: the
    // class's published interface. The fingerprint takes RunCommandsTogether.
    // The processor serial as one text; the parts also tell whether any was
    // found.
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
