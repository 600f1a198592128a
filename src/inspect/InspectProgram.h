#pragma once

#include <iosfwd>
#include <string>

#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// grellaninspect: computes a fingerprint as GetHardwareHash does, or from a
// snapshot or raw table, and explains where every byte of it came from.
class InspectProgram {
public:
    enum Status {
        kExplained = 0,      // a fingerprint was computed and explained
        kUsage = 1,          // the options were wrong
        kBadInput = 2,       // a snapshot or table file could not be read or used
        kNoFingerprint = 3,  // no fingerprint could be computed; the steps say why
        kDifferent = 4,      // --diff: the two fingerprints differ
        kWriteFailed = 5,    // the report could not be written to standard output
    };

    static int Run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                   std::ostream& err);

    // This machine, as GetHardwareHash sees it.
    static FingerprintReport ExplainMachine(bool withSnapshot);
};

}  // namespace tirsel::kvl::agent::driver::inspect
