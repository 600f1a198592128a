#pragma once

#include <optional>
#include <string>
#include <vector>

#include "business/HardwareSerials.h"

namespace tirsel::kvl::agent::driver::inspect {

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
    // The serials, as they enter the digest; absent when none could be gathered.
    std::optional<business::HardwareSerials> serials;
    // The fingerprint; absent when none could be computed.
    std::optional<std::string> fingerprint;
    // The table's snapshot text, when asked for and a table is held.
    std::optional<std::string> snapshot;
};

}  // namespace tirsel::kvl::agent::driver::inspect
