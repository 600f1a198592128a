#pragma once

#include <optional>
#include <string>
#include <vector>

#include "business/FallbackReading.h"
#include "business/FallbackStep.h"

namespace tirsel::kvl::agent::driver::business {

// The four serials from the operating system's own tools and registry, for
// machines whose SMBIOS table cannot be obtained. Reads them; FallbackSerials
// makes the serials of what it read. Stateless: every getter runs its
// commands again.
class SerialLoader {
public:
    // The command text of each fallback command, exactly as the shell runs it.
    static const char* CommandText(FallbackCommand command);

    // Runs the processor-name command, the registry dump and the
    // machine-serial command once each, all at the same time, and parses the
    // dump as soon as it is complete; `reading` gets what each gave. The
    // first command that gives no usable answer (or a dump the parser cannot
    // read) decides: the others are killed at once, and it is thrown as the
    // getters throw it. `steps` gets each command's outcome, in the order the
    // serials are loaded, either way.
    void RunCommandsTogether(FallbackReading& reading, std::vector<FallbackStep>& steps);

    // The mlb-serial-number data of IOPlatformExpertDevice, whole; nothing
    // where there is no such service, property or data object.
    static std::optional<std::string> ReadBoardData();

    // One slot's serial each, its commands run one after the other; each
    // throws as RunCommandsTogether does. The fingerprint takes
    // RunCommandsTogether and ReadBoardData, which read the same sources, and
    // FallbackSerials, which makes the same texts of them. These read a single
    // slot on its own.

    // The processor name, a blank, and the printable runs of the decoded
    // "unique-chip-id" of the registry dump.
    std::string GetProcessorSerial();
    // The chassis slot's serial: the machine serial, from a run of its own.
    std::string GetChassisSerial();
    // The machine serial (ReportLine::Pick: the English-labelled line, else
    // the registry's IOPlatformSerialNumber).
    std::string GetSystemSerial();
    // The "mlb-serial-number" of the IOPlatformExpertDevice registry service,
    // up to its first zero byte; empty without one.
    std::string GetBaseBoardSerial();

    // Field 1 (between the first and second colon) of the command's output,
    // trimmed at both ends; empty without a colon. Throws CommandFailed when
    // the command gives no usable answer (not run to its end, exit status 2
    // or more, or grep's "no match" after the watched system_profiler
    // failed): no serial is better than a wrong one. For reading one field
    // of a tool's report the way the library reads it (the Mac checks
    // compare report fields with the registry's values through it); the
    // fingerprint's own two report values go through ReportLine::Pick.
    std::string ProcessComand(std::string command);

    // The field logic of ProcessComand over a command's output; ReportLine
    // reads the labelled lines through it.
    static std::string SecondField(const std::string& output);
};

}  // namespace tirsel::kvl::agent::driver::business
