#pragma once

#include <optional>
#include <string>
#include <vector>

#include "business/DigestSlots.h"
#include "business/FallbackReading.h"
#include "business/FallbackStep.h"
#include "business/HardwareSerials.h"
#include "business/ReportLine.h"
#include "business/ValueSource.h"

namespace tirsel::kvl::agent::driver::business {

// One value of system_profiler's report and where it came from.
struct ValueOrigin {
    DigestSlots::Id slot = DigestSlots::Id::System;  // the digest slot it enters
    ReportLine::Label label = ReportLine::Label::MachineSerial;
    ValueSource source = ValueSource::ReportLine;
};

// The fallback's serials from what it read: the one place the tools' output
// and the registry's values become serials. Pure: the library runs it over
// what the tools gave, grellaninspect over a capture of that, and both get
// the same serials. Stateless.
class FallbackSerials {
public:
    FallbackSerials() = delete;

    struct Result {
        HardwareSerials serials;
        // Where each value of the report came from, in loading order: the
        // processor name, then the machine serial of the chassis and system.
        std::vector<ValueOrigin> origins;
        // What the serials lack (NoMachineSerial, NoProcessor, NoBoardSerial).
        std::vector<FallbackStep> findings;
    };

    // The serials of a reading of every source. Throws CommandFailed where a
    // value of the report has neither its labelled line nor a value without a
    // label that stands in for it.
    static Result Of(const FallbackReading& reading);

    // Throws CommandFailed, as Of would, when the reading has no labelled line
    // for `label` and nothing that stands in; for the loader, which stops the
    // other commands at once then.
    static void RequireValue(const FallbackReading& reading, ReportLine::Label label);

    // The printable runs of the decoded unique-chip-id, joined; empty without one.
    static std::string ChipPart(const std::optional<std::string>& chipId);
    // The mlb-serial-number data up to its first zero byte (or whole); empty
    // without data.
    static std::string BoardSerial(const std::optional<std::string>& data);
};

}  // namespace tirsel::kvl::agent::driver::business
