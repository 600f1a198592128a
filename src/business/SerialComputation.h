#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "business/HardwareSerials.h"
#include "business/SerialSource.h"
#include "business/ValueSource.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::business {

// A fallback command that gave no usable answer, and why, as CommandFailed
// words it ("timed out after 30 s").
struct FailedCommand {
    std::string command;
    std::string reason;
};

// One computation of the fingerprint's serials: GetHardwareHash hashes it,
// grellaninspect explains it. Made here only, so the choice between the
// firmware table and the fallback tools is made in one place.
struct SerialComputation {
    SerialSource source = SerialSource::Fallback;
    // What was tried, in order: the table's acquisition and, without a table,
    // what the fallback tools gave or failed to give.
    std::vector<std::string> steps;
    // On the fallback path, where each value of system_profiler's report came
    // from (the chassis and system serial numbers, the processor name), in
    // loading order: its labelled line, or a source without a label.
    std::vector<ValueOrigin> valueOrigins;
    // The table the serials were read from; none on the fallback path.
    std::unique_ptr<const smbios::SmBios> table;
    // Absent when a source failed: `error` is then what it threw, as it threw
    // it, and `failedCommand` names the command when a command failed.
    std::optional<HardwareSerials> serials;
    std::optional<FailedCommand> failedCommand;
    std::exception_ptr error;

    // This machine's serials: from its firmware table when one can be
    // obtained, otherwise from the fallback tools; never mixed.
    static SerialComputation OfThisMachine();
    // The fallback tools' serials; `steps` are those that led to them.
    static SerialComputation OfFallbackTools(std::vector<std::string> steps = {});

    // The serials; without them, rethrows `error`.
    const HardwareSerials& Serials() const;
};

}  // namespace tirsel::kvl::agent::driver::business
