#pragma once

#include <string>
#include <vector>

#include "business/CommandVerdict.h"
#include "business/FallbackStep.h"
#include "business/ReportLine.h"
#include "business/SerialComputation.h"
#include "business/ValueSource.h"
#include "platform/CommandResult.h"
#include "smbios/AcquisitionStep.h"
#include "smbios/SerialSource.h"

namespace tirsel::kvl::agent::driver::inspect {

// The words for what a computation records as values: its sources, its
// steps, how its commands ended. The library keeps the values and formats
// none; grellaninspect says them here, and only here.
class StepText {
public:
    StepText() = delete;

    // How a source is named: `key` for machines (JSON), `description` for people.
    struct Name {
        const char* key;
        const char* description;
    };

    static Name Source(smbios::SerialSource source);
    // The source key of a report replayed from a fallback capture.
    static constexpr const char* kCaptureKey = "fallback-capture";
    // Where a value of system_profiler's report came from ("the label was
    // missing: from the registry (IOPlatformSerialNumber)").
    static Name Value(business::ValueSource source);
    // What a report value is: "serial number", "name".
    static const char* Label(business::ReportLine::Label label);

    // A table's version: "2.3".
    static std::string Version(unsigned major, unsigned minor);

    // Every step of `computation`, in order: acquisition, then the fallback.
    static std::vector<std::string> Steps(const business::SerialComputation& computation);
    static std::string Acquisition(const smbios::AcquisitionStep& step);
    // "exit status 0", "timed out after 30 s", "could not start: posix_spawn
    // /bin/sh: No such file or directory".
    static std::string Ending(const platform::CommandEnding& ending);
    // Why a command's answer is no usable one (or, for a usable one, how it ended).
    static std::string Verdict(const business::CommandVerdict& verdict);
    // "a tool failed (exit status 3): ioreg ...": the step that ends a
    // computation whose command gave no usable answer.
    static std::string ToolFailed(const business::FailedCommand& failed);
};

}  // namespace tirsel::kvl::agent::driver::inspect
