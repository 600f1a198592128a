#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "business/FallbackReading.h"
#include "business/FallbackSerials.h"
#include "business/HardwareSerials.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::inspect {

// The serial one structure contributes to its slot.
struct StructureSerial {
    std::string slot;  // the name of its business::DigestSlots slot
    unsigned type = 0;
    unsigned handle = 0;
    // The string number in the SerialNumber field; absent when the structure
    // is too short to hold the field (it then contributes nothing).
    std::optional<unsigned> stringNumber;
    // The string exactly as it enters the digest (cleaned and trimmed).
    std::string serial;
};

// One finding that makes a fingerprint weak: `code` is "empty",
// "placeholder", "vm" or "no-serials"; `slot` is absent for findings about
// the fingerprint as a whole.
struct Warning {
    std::string code;
    std::optional<std::string> slot;
    std::string detail;
};

// The indexed table: its size, how many structures Map took, and where and
// why it stopped when it did not use up the stated length.
struct TableShape {
    std::size_t bytes = 0;
    std::size_t structures = 0;
    smbios::TableWalkEnd walkEnd;
};

// A fallback command that left a serial unknown, and why, in words.
struct ToolFailure {
    std::string command;
    std::string reason;
};

// Everything grellaninspect tells about one fingerprint computation.
struct FingerprintReport {
    // Where the serials came from, in words ("registry table", "fallback tools", ...).
    std::string source;
    // Short machine-readable form of `source` for JSON ("registry", "fallback", ...).
    std::string sourceKey;
    // "major.minor" of the table, when the serials came from one.
    std::optional<std::string> smbiosVersion;
    // What was tried, in order.
    std::vector<std::string> steps;
    // The table the serials came from, when they came from one.
    std::optional<TableShape> table;
    // Per structure, in digest order (chassis, system, baseboard, processor).
    std::vector<StructureSerial> structures;
    // The serials, as they enter the digest; absent when none could be gathered.
    std::optional<business::HardwareSerials> serials;
    // On the fallback path, where each value of system_profiler's report came
    // from: its labelled line or, where the label was missing, a source
    // without one.
    std::vector<business::ValueOrigin> valueOrigins;
    // The fallback command that left a serial unknown, when one did.
    std::optional<ToolFailure> toolFailure;
    // On the fallback path, what the tools and the registry gave, as read:
    // what a capture holds.
    std::optional<business::FallbackReading> reading;
    // The fingerprint; absent when none could be computed.
    std::optional<std::string> fingerprint;
    // Why the fingerprint is weak, if it is.
    std::vector<Warning> warnings;
    // The snapshot text, when asked for: the table's, or on the fallback path
    // the capture of what the tools gave (FallbackCapture).
    std::optional<std::string> snapshot;
};

}  // namespace tirsel::kvl::agent::driver::inspect
