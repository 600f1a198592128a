#pragma once

#include <string>

#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// A report that `grellaninspect --json` printed, read back: the serials
// exactly as they entered the digest ("serials_hex"), each structure's
// serial, the fingerprint, and the snapshot when it was printed with one (for
// a fallback report, the capture, whose reading it then also holds).
class JsonReport {
public:
    // Throws BadInput naming `name` when `text` is not such a report (another
    // schema, a --diff result, a field missing or of another type), or when
    // its fingerprint is not the MD5 of its serials (edited or damaged).
    static FingerprintReport Parse(const std::string& text, const std::string& name);
};

}  // namespace tirsel::kvl::agent::driver::inspect
