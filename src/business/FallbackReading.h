#pragma once

#include <optional>
#include <string>

#include "business/ReportLine.h"

namespace tirsel::kvl::agent::driver::business {

// What the fallback computation read, kept as it was read: the parts of the
// tools' output and of the registry that its serials are made of, and no
// more (not the registry dump, which runs to megabytes). FallbackSerials
// makes the serials of it, for the library and for a replay alike. A field
// stays absent until it is read; a computation that ended early (a command
// failed) holds what it read until then.
struct FallbackReading {
    // ReportLine::LabelledLines of the processor-name command's output: its
    // lines with the English label "Chip" or "Processor Name" (empty: none).
    std::optional<std::string> processorLines;
    // machdep.cpu.brand_string, read only where processorLines is empty.
    std::optional<std::string> brandString;
    // The text of the registry dump's unique-chip-id (its Base64, as the dump
    // holds it); absent also where the dump has none.
    std::optional<std::string> chipId;
    // LabelledLines of the machine-serial command's output ("Serial Number").
    std::optional<std::string> serialLines;
    // IOPlatformSerialNumber of IOPlatformExpertDevice, read only where
    // serialLines is empty.
    std::optional<std::string> platformSerial;
    // The mlb-serial-number data of IOPlatformExpertDevice, whole; absent
    // where the registry has no such data object.
    std::optional<std::string> boardData;

    // The labelled lines of `label`'s command, and the value read in their
    // place where they are empty.
    std::optional<std::string>& Lines(ReportLine::Label label) {
        return label == ReportLine::Label::MachineSerial ? serialLines : processorLines;
    }
    const std::optional<std::string>& Lines(ReportLine::Label label) const {
        return label == ReportLine::Label::MachineSerial ? serialLines : processorLines;
    }
    std::optional<std::string>& LabelFree(ReportLine::Label label) {
        return label == ReportLine::Label::MachineSerial ? platformSerial : brandString;
    }
    const std::optional<std::string>& LabelFree(ReportLine::Label label) const {
        return label == ReportLine::Label::MachineSerial ? platformSerial : brandString;
    }

    // Whether nothing at all was read.
    bool Empty() const {
        return !processorLines && !brandString && !chipId && !serialLines && !platformSerial &&
               !boardData;
    }
};

}  // namespace tirsel::kvl::agent::driver::business
