#include "inspect/StepText.h"

#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>

#include "business/SerialLoader.h"
#include "platform/WrappedCommand.h"
#include "smbios/EntryPoint.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

using AcquisitionKind = smbios::AcquisitionStep::Kind;
using business::FallbackStep;

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIX64, value);
    return text;
}

// "30 s" for whole seconds, "1500 ms" otherwise.
std::string DurationText(std::chrono::milliseconds duration) {
    return duration.count() % 1000 == 0 ? std::to_string(duration.count() / 1000) + " s"
                                        : std::to_string(duration.count()) + " ms";
}

// "64 MiB" for whole mebibytes, "1000 bytes" otherwise.
std::string SizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                             : std::to_string(bytes) + " bytes";
}

// The system's text for an errno value, safe on any thread.
[[maybe_unused]] const char* ErrorText(const char* text, const char*) {
    return text;  // GNU strerror_r
}
[[maybe_unused]] const char* ErrorText(int, const char* buffer) {
    return buffer;  // XSI strerror_r
}

std::string ErrorText(int error) {
    char buffer[256] = "";
    return ErrorText(strerror_r(error, buffer, sizeof buffer), buffer);
}

// How the watched tool ended: "ended with exit status 1", "was killed by
// signal 9", "did not report how it ended".
std::string ToolEnding(const std::optional<int>& status) {
    if (!status) {
        return "did not report how it ended";
    }
    if (const std::optional<int> killedBy = platform::WrappedCommand::SignalOf(*status)) {
        return "was killed by signal " + std::to_string(*killedBy);
    }
    return "ended with exit status " + std::to_string(*status);
}

// What each fallback command gives, for people.
const char* Role(business::FallbackCommand command) {
    switch (command) {
        case business::FallbackCommand::RegistryDump:
            return "processor chip (registry dump)";
        case business::FallbackCommand::MachineSerial:
            return "chassis and system serial";
        case business::FallbackCommand::ProcessorName:
            break;
    }
    return "processor name";
}

std::string WhatOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown error";
    }
}

std::string Fallback(const FallbackStep& step, const business::SerialComputation& computation) {
    switch (step.kind) {
        case FallbackStep::Kind::AskingTools:
            return "no SMBIOS table: asking system_profiler, ioreg and the registry";
        case FallbackStep::Kind::CommandEnded:
            return std::string(Role(step.command)) + " (" + StepText::Verdict(step.verdict) +
                   "): " + business::SerialLoader::CommandText(step.command);
        case FallbackStep::Kind::GaveNoAnswer:
            return computation.failedCommand ? StepText::ToolFailed(*computation.failedCommand)
                                             : "a tool failed";
        case FallbackStep::Kind::DumpUnreadable:
            return "the registry dump could not be parsed: " + WhatOf(computation.error);
        case FallbackStep::Kind::NoMachineSerial:
            return "system_profiler's Serial Number line holds no serial";
        case FallbackStep::Kind::NoProcessor:
            return "no processor name (its Chip or Processor Name line is empty) and no "
                   "unique-chip-id";
        case FallbackStep::Kind::NoBoardSerial:
            break;
    }
    return "no mlb-serial-number data in the IOPlatformExpertDevice registry service";
}

}  // namespace

StepText::Name StepText::Source(smbios::SerialSource source) {
    switch (source) {
        case smbios::SerialSource::None:
            return {"none", "no source"};
        case smbios::SerialSource::RegistryTable:
            return {"registry", "registry table (AppleSMBIOS)"};
        case smbios::SerialSource::LegacyScan:
            return {"legacy-scan", "legacy memory scan"};
        case smbios::SerialSource::EfiScan:
            return {"efi-scan", "EFI memory scan"};
        case smbios::SerialSource::Fallback:
            break;
    }
    return {"fallback", "fallback tools (system_profiler, ioreg, I/O Kit registry)"};
}

StepText::Name StepText::Value(business::ValueSource source) {
    switch (source) {
        case business::ValueSource::Registry:
            return {"registry",
                    "the label was missing: from the registry (IOPlatformSerialNumber)"};
        case business::ValueSource::BrandString:
            return {"brand-string", "the label was missing: from machdep.cpu.brand_string"};
        case business::ValueSource::ReportLine:
            break;
    }
    return {"report", "its labelled line in system_profiler's report"};
}

std::string StepText::Version(unsigned major, unsigned minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

const char* StepText::Label(business::ReportLine::Label label) {
    return label == business::ReportLine::Label::MachineSerial ? "serial number" : "name";
}

std::vector<std::string> StepText::Steps(const business::SerialComputation& computation) {
    std::vector<std::string> steps;
    steps.reserve(computation.acquisition.size() + computation.fallback.size());
    for (const smbios::AcquisitionStep& step : computation.acquisition) {
        steps.push_back(Acquisition(step));
    }
    for (const FallbackStep& step : computation.fallback) {
        steps.push_back(Fallback(step, computation));
    }
    return steps;
}

std::string StepText::Acquisition(const smbios::AcquisitionStep& step) {
    const std::string scan = step.efiScan ? "EFI scan" : "legacy scan";
    const std::string entry = scan + ": entry point at " + Hex(step.address);
    const std::string property = step.property;
    switch (step.kind) {
        case AcquisitionKind::SourcesOff:
            return "no table source: turned off in this test build";
        case AcquisitionKind::DeviceAbsent:
            return step.path + " is absent: using the I/O Kit registry";
        case AcquisitionKind::DeviceExists:
            return step.path + " exists: scanning physical memory";
        case AcquisitionKind::NoService:
            return "no AppleSMBIOS service";
        case AcquisitionKind::NoProperty:
            return "AppleSMBIOS has no " + property + " property";
        case AcquisitionKind::NotData:
            return property + " is not a data object";
        case AcquisitionKind::EntryPointShort:
            return property + " is " + std::to_string(step.length) + " bytes, shorter than " +
                   std::to_string(step.stated);
        case AcquisitionKind::TableShort:
            return property + " is " + std::to_string(step.length) + " bytes, shorter than the " +
                   std::to_string(step.stated) + " the entry point states: keeping what there is";
        case AcquisitionKind::RegistryTable:
            return "registry: SMBIOS " + Version(step.major, step.minor) + ", table of " +
                   std::to_string(step.length) + " bytes";
        case AcquisitionKind::DeviceCannotOpen:
            return step.path + " cannot be opened";
        case AcquisitionKind::DeviceUnusable:
            return step.path + " is neither a character device nor a regular file";
        case AcquisitionKind::DmidecodeFailed:
            return "EFI firmware: dmidecode failed: " + Ending(step.command);
        case AcquisitionKind::DmidecodeNoHex:
            return "EFI firmware: dmidecode printed no \"0x\"";
        case AcquisitionKind::DmidecodeNoAddress:
            return "EFI firmware: no address follows \"0x\" in \"" + step.path + "\"";
        case AcquisitionKind::CannotMapProbe:
            return scan + ": cannot map " + Hex(step.address) + ", stopping";
        case AcquisitionKind::EmptyTable:
            return entry + " states a table of 0 bytes, stopping";
        case AcquisitionKind::CannotMapTable:
            return entry + ": cannot map its table at " + Hex(step.tableAddress) + ", stopping";
        case AcquisitionKind::EntryPointAccepted:
            return entry + ", SMBIOS " + Version(step.major, step.minor) + ", table of " +
                   std::to_string(step.length) + " bytes at " + Hex(step.tableAddress);
        case AcquisitionKind::NoEntryPoint:
            break;
    }
    // The EFI scan's probes span a probe step from its last one on.
    return step.efiScan
               ? scan + ": no entry point within " +
                     SizeText(step.last + smbios::firmware::kProbeStep - step.address) + " of " +
                     Hex(step.address)
               : scan + ": no entry point between " + Hex(step.address) + " and " + Hex(step.last);
}

std::string StepText::Ending(const platform::CommandEnding& ending) {
    using platform::CommandOutcome;
    switch (ending.outcome) {
        case CommandOutcome::NotStarted:
            return std::string("could not start: ") + ending.setUp.call +
                   (ending.setUp.program.empty() ? "" : " " + ending.setUp.program) + ": " +
                   ErrorText(ending.setUp.error);
        case CommandOutcome::Signalled:
            return "killed by signal " + std::to_string(ending.signal);
        case CommandOutcome::TimedOut:
            return "timed out after " + DurationText(ending.timeLimit);
        case CommandOutcome::OutputTooLarge:
            return "output over " + SizeText(ending.outputLimit);
        case CommandOutcome::OutputHeldOpen:
            return "output held open by a leftover process";
        case CommandOutcome::ReadFailed:
            return "its output could not be read";
        case CommandOutcome::Unreported:
            return "its shell ended without reporting a status";
        case CommandOutcome::Stopped:
            return "stopped when another command failed";
        case CommandOutcome::OutOfMemory:
            return "out of memory";
        case CommandOutcome::Exited:
            break;
    }
    return "exit status " + std::to_string(ending.exitStatus);
}

std::string StepText::Verdict(const business::CommandVerdict& verdict) {
    using Kind = business::CommandVerdict::Kind;
    switch (verdict.kind) {
        case Kind::ToolFailed:
            return std::string(verdict.watchedTool) + " " + ToolEnding(verdict.ending.toolStatus) +
                   ", and grep matched nothing";
        case Kind::NoMachineSerial:
            return "no Serial Number line (a report in another language?) and no "
                   "IOPlatformSerialNumber in the registry";
        case Kind::NoChipName:
            return "no Chip or Processor Name line (a report in another language?) and "
                   "machdep.cpu.brand_string names no Apple chip";
        case Kind::Usable:
        case Kind::Unfinished:
            break;
    }
    return Ending(verdict.ending);
}

std::string StepText::ToolFailed(const business::FailedCommand& failed) {
    return "a tool failed (" + Verdict(failed.verdict) + "): " + failed.command;
}

}  // namespace tirsel::kvl::agent::driver::inspect
