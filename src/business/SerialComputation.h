#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "business/CommandVerdict.h"
#include "business/FallbackReading.h"
#include "business/FallbackSerials.h"
#include "business/FallbackStep.h"
#include "business/HardwareSerials.h"
#include "smbios/AcquisitionStep.h"
#include "smbios/SerialSource.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::business {

// A fallback command that gave no usable answer, and the verdict on it.
struct FailedCommand {
    std::string command;
    CommandVerdict verdict;
};

// One computation of the fingerprint's serials: GetHardwareHash hashes it,
// grellaninspect explains it. Made here only, so the choice between the
// firmware table and the fallback tools is made in one place. What it tried
// is kept as values; nothing here is put into words.
struct SerialComputation {
    smbios::SerialSource source = smbios::SerialSource::Fallback;
    // What the table's acquisition tried, in order.
    std::vector<smbios::AcquisitionStep> acquisition;
    // Without a table, what the fallback tools gave or failed to give, in order.
    std::vector<FallbackStep> fallback;
    // On the fallback path, where each value of system_profiler's report came
    // from (the processor name, then the chassis and system serial numbers):
    // its labelled line, or a source without a label.
    std::vector<ValueOrigin> valueOrigins;
    // On the fallback path, what the tools and the registry gave, as read.
    FallbackReading reading;
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
    // The fallback tools' serials; `acquisition` is what led to them.
    static SerialComputation OfFallbackTools(std::vector<smbios::AcquisitionStep> acquisition = {});
    // The serials of what the fallback tools once gave, by the same rules.
    static SerialComputation OfReading(FallbackReading reading);

    // The serials; without them, rethrows `error`.
    const HardwareSerials& Serials() const;

private:
    // The serials of `reading` (FallbackSerials), or why there are none.
    void Complete();
};

}  // namespace tirsel::kvl::agent::driver::business
