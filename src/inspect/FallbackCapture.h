#pragma once

#include <optional>
#include <string>
#include <vector>

#include "business/FallbackReading.h"
#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// What the fallback computation read on a Mac without a table, kept so that
// support can replay it: the report lines it used, the label-free values it
// read in their place, the unique-chip-id's text and the mlb-serial-number
// data (FallbackReading), and, where it gave no fingerprint, why, in the
// words the Mac's explanation gave. It holds raw serial numbers, as a table
// snapshot does.
//
// Its text is the paste-safe form of a table snapshot: Base64 of a record,
// under the same "snapshot:" label. A table's record starts with its
// prefix's zero byte; this one with kMagic and a version byte, then fields,
// each a tag byte, its length (32 bits, little-endian) and its bytes.
class FallbackCapture {
public:
    // The first bytes of a capture's record.
    static constexpr char kMagic[] = "GRFB";
    static constexpr std::size_t kMagicSize = sizeof kMagic - 1;
    // The version this grellaninspect writes and reads.
    static constexpr unsigned char kVersion = 1;

    business::FallbackReading reading;
    // Where the computation gave no fingerprint: the step that says why, and
    // the command that failed when one did.
    std::optional<std::string> failureStep;
    std::optional<ToolFailure> toolFailure;

    // Whether `record` (decoded Base64) is a capture's rather than a table's.
    static bool IsCapture(const std::vector<unsigned char>& record);

    // The record as Base64 text, as --snapshot prints it.
    std::string Text() const;
    // Reads a record IsCapture accepted. Throws BadInput naming `name` for a
    // version other than kVersion, a field it does not know or a record cut
    // on the way.
    static FallbackCapture Read(const std::vector<unsigned char>& record, const std::string& name);
};

}  // namespace tirsel::kvl::agent::driver::inspect
