#pragma once

#include <iosfwd>
#include <string>

#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// Renders a report for people (text) or programs (one JSON object).
class ReportPrinter {
public:
    static void PrintText(const FingerprintReport& report, std::ostream& out);
    static void PrintJson(const FingerprintReport& report, std::ostream& out);

    // A serial between double quotes, with every byte outside 0x20..0x7E (and
    // the quote and backslash) escaped, so blanks at the ends and control
    // bytes are visible: "AB\x01 " for the bytes A, B, 0x01, blank.
    static std::string Quote(const std::string& bytes);
    // The same without the surrounding quotes.
    static std::string Escape(const std::string& bytes);
    // Two lower-case hexadecimal digits per byte: "4142" for "AB".
    static std::string Hex(const std::string& bytes);
    // A structure handle as four upper-case hexadecimal digits: "0x001A".
    static std::string Handle(unsigned handle);
};

}  // namespace tirsel::kvl::agent::driver::inspect
