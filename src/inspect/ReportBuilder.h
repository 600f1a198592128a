#pragma once

#include <string>
#include <vector>

#include "business/HardwareSerials.h"
#include "business/SerialComputation.h"
#include "inspect/FallbackCapture.h"
#include "inspect/FingerprintReport.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::inspect {

// The report on serials read from a table (the table's size, each structure
// that gives a serial) or from the fallback tools (what each command gave,
// where each value came from): the fingerprint and what makes it weak.
class ReportBuilder {
public:
    // After `steps` (how the table was obtained): its size and what it holds
    // for each slot; its snapshot text when `withSnapshot`.
    static FingerprintReport OfTable(const smbios::SmBios& table, business::HardwareSerials serials,
                                     std::string source, std::string sourceKey,
                                     std::vector<std::string> steps, bool withSnapshot);
    // The same for held bytes (prefix and table), read as GetHardwareHash
    // reads a table.
    static FingerprintReport OfHeldBytes(std::vector<unsigned char> heldBytes, std::string source,
                                         std::string sourceKey, std::vector<std::string> steps,
                                         bool withSnapshot);
    // After `steps` (what came before it): the steps of a fallback
    // computation (of this machine, or of a replayed reading), its serials,
    // where each value came from, and why there are none when there are
    // none; its capture as the snapshot when `withSnapshot` and it read
    // anything.
    static FingerprintReport OfFallback(const business::SerialComputation& computation,
                                        std::string source, std::string sourceKey,
                                        std::vector<std::string> steps, bool withSnapshot);
    // The same for a capture: its reading computed again or, where the
    // computation it was taken from gave no fingerprint, why, as it was told.
    static FingerprintReport OfCapture(const FallbackCapture& capture, std::string source,
                                       std::string sourceKey, std::vector<std::string> steps);
    // The capture of a fallback report's reading, with the failure it tells of.
    static FallbackCapture CaptureOf(const FingerprintReport& report);
    // The warnings of a report that has serials and a fingerprint.
    static void AddWarnings(FingerprintReport& report);
};

}  // namespace tirsel::kvl::agent::driver::inspect
