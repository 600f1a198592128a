#include "inspect/ReportPrinter.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

namespace tirsel::kvl::agent::driver::inspect {

std::string ReportPrinter::Quote(const std::string& bytes) {
    return "\"" + Escape(bytes) + "\"";
}

std::string ReportPrinter::Escape(const std::string& bytes) {
    std::string quoted;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte >= 0x20 && byte <= 0x7E) {
            quoted += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            quoted += hex;
        }
    }
    return quoted;
}

void ReportPrinter::PrintText(const FingerprintReport& report, std::ostream& out) {
    out << "source:      " << report.source << "\n";
    if (report.smbiosVersion) {
        out << "SMBIOS:      " << *report.smbiosVersion << "\n";
    }
    out << "steps:\n";
    for (std::size_t i = 0; i < report.steps.size(); ++i) {
        out << "  " << i + 1 << ". " << report.steps[i] << "\n";
    }
    if (report.serials) {
        const business::HardwareSerials& s = *report.serials;
        out << "serials, in digest order:\n"
            << "  chassis    " << Quote(s.chassis) << "\n"
            << "  system     " << Quote(s.system) << "\n"
            << "  baseboard  " << Quote(s.baseboard) << "\n"
            << "  processor  " << Quote(s.processor) << "\n";
    }
    if (report.fingerprint) {
        out << "fingerprint: " << *report.fingerprint << "\n";
    } else {
        out << "fingerprint: none (GetHardwareHash returns an empty string)\n";
    }
    if (report.snapshot) {
        out << "snapshot:\n" << *report.snapshot << "\n";
    }
}

void ReportPrinter::PrintJson(const FingerprintReport& report, std::ostream& out) {
    nlohmann::ordered_json json;
    json["source"] = report.sourceKey;
    json["source_description"] = report.source;
    json["smbios_version"] =
        report.smbiosVersion ? nlohmann::ordered_json(*report.smbiosVersion) : nullptr;
    json["steps"] = report.steps;
    if (report.serials) {
        // Quoted and escaped: serial bytes need not be valid UTF-8.
        const business::HardwareSerials& s = *report.serials;
        json["serials"] = {{"chassis", Escape(s.chassis)},
                           {"system", Escape(s.system)},
                           {"baseboard", Escape(s.baseboard)},
                           {"processor", Escape(s.processor)}};
    } else {
        json["serials"] = nullptr;
    }
    json["fingerprint"] =
        report.fingerprint ? nlohmann::ordered_json(*report.fingerprint) : nullptr;
    if (report.snapshot) {
        json["snapshot"] = *report.snapshot;
    }
    // Paths in the steps may hold bytes that are not UTF-8.
    out << json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

}  // namespace tirsel::kvl::agent::driver::inspect
