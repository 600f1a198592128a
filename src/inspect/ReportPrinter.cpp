#include "inspect/ReportPrinter.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <utility>

#include "business/DigestSlots.h"
#include "grellan/grellan.h"
#include "inspect/SnapshotText.h"
#include "inspect/StepText.h"

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

std::string ReportPrinter::Hex(const std::string& bytes) {
    static const char* const kDigits = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

namespace {

using business::DigestSlots;
using Json = nlohmann::ordered_json;

// A slot name in the column the text report lines its values up in.
std::string Padded(const std::string& slot) {
    return slot + std::string(slot.size() < 11 ? 11 - slot.size() : 1, ' ');
}

std::string StoppedText(const TableShape& table) {
    const smbios::TableWalkEnd& end = table.walkEnd;
    char offset[24];
    std::snprintf(offset, sizeof offset, "0x%zX", end.offset);
    return std::string("indexing stopped at table offset ") + offset + " (structure " +
           std::to_string(end.indexed + 1) + "): " + smbios::TableWalkEnd::ReasonText(end.reason) +
           "; the bytes from there on are not indexed";
}

}  // namespace

void ReportPrinter::PrintText(const FingerprintReport& report, std::ostream& out) {
    out << "source:      " << report.source << "\n";
    if (report.smbiosVersion) {
        out << "SMBIOS:      " << *report.smbiosVersion << "\n";
    }
    out << "steps:\n";
    for (std::size_t i = 0; i < report.steps.size(); ++i) {
        out << "  " << i + 1 << ". " << report.steps[i] << "\n";
    }
    if (report.table && report.table->walkEnd.reason != smbios::TableWalkEnd::Reason::Complete) {
        out << "table:       " << StoppedText(*report.table) << "\n";
    }
    if (!report.structures.empty()) {
        out << "structures, in digest order:\n";
        for (const StructureSerial& s : report.structures) {
            out << "  " << Padded(s.slot) << "type " << s.type << " handle "
                << ReportPrinter::Handle(s.handle);
            if (s.stringNumber) {
                out << " string " << *s.stringNumber << "  " << Quote(s.serial) << " hex "
                    << (s.serial.empty() ? "-" : Hex(s.serial)) << "\n";
            } else {
                out << "  too short for a SerialNumber field: adds nothing\n";
            }
        }
    }
    if (!report.valueOrigins.empty()) {
        out << "values of system_profiler's report:\n";
        for (const business::ValueOrigin& origin : report.valueOrigins) {
            out << "  " << Padded(DigestSlots::Of(origin.slot).name)
                << StepText::Label(origin.label) << ": "
                << StepText::Value(origin.source).description << "\n";
        }
    }
    if (report.serials) {
        out << "serials, in digest order:\n";
        for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
            out << "  " << Padded(slot.name) << Quote((*report.serials).*slot.serial) << "\n";
        }
    }
    if (report.fingerprint) {
        out << "fingerprint: " << *report.fingerprint << "\n";
    } else {
        out << "fingerprint: none (GetHardwareHash returns an empty string)\n";
    }
    for (const Warning& warning : report.warnings) {
        out << "warning: " << warning.detail << " [" << warning.code << "]\n";
    }
    if (report.snapshot) {
        out << SnapshotText::kLabel << "\n" << *report.snapshot << "\n";
    }
}

void ReportPrinter::PrintJson(const FingerprintReport& report, std::ostream& out) {
    Json json;
    json["schema"] = 1;
    json["tool_version"] = GRELLAN_VERSION_STRING;
    json["source"] = report.sourceKey;
    json["source_description"] = report.source;
    json["smbios_version"] = report.smbiosVersion ? Json(*report.smbiosVersion) : Json(nullptr);
    json["steps"] = report.steps;
    if (report.table) {
        const TableShape& table = *report.table;
        Json stopped = nullptr;
        if (table.walkEnd.reason != smbios::TableWalkEnd::Reason::Complete) {
            stopped = {{"offset", table.walkEnd.offset},
                       {"structure", table.walkEnd.indexed + 1},
                       {"reason", smbios::TableWalkEnd::ReasonText(table.walkEnd.reason)}};
        }
        json["table"] = {
            {"bytes", table.bytes}, {"structures", table.structures}, {"stopped", stopped}};
    }
    json["structures"] = Json::array();
    for (const StructureSerial& s : report.structures) {
        json["structures"].push_back(
            {{"slot", s.slot},
             {"type", s.type},
             {"handle", s.handle},
             {"string_number", s.stringNumber ? Json(*s.stringNumber) : Json(nullptr)},
             {"serial", s.serial},
             {"hex", Hex(s.serial)}});
    }
    if (report.serials) {
        // Plain JSON strings: the library escapes what JSON needs escaped, so
        // the four strings, decoded and joined, are the digest input. Serials
        // from a table are ASCII; the fallback tools may give bytes that are
        // not UTF-8, which JSON cannot carry: "serials_hex" has them exactly.
        Json serials = Json::object();
        Json hex = Json::object();
        for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
            const std::string& serial = (*report.serials).*slot.serial;
            serials[slot.name] = serial;
            hex[slot.name] = Hex(serial);
        }
        json["serials"] = std::move(serials);
        json["serials_hex"] = std::move(hex);
    } else {
        json["serials"] = nullptr;
    }
    json["value_sources"] = Json::array();
    for (const business::ValueOrigin& origin : report.valueOrigins) {
        const StepText::Name name = StepText::Value(origin.source);
        json["value_sources"].push_back({{"slot", DigestSlots::Of(origin.slot).name},
                                         {"value", StepText::Label(origin.label)},
                                         {"source", name.key},
                                         {"description", name.description}});
    }
    json["tool_failure"] = nullptr;
    if (report.toolFailure) {
        json["tool_failure"] = {{"command", report.toolFailure->command},
                                {"reason", report.toolFailure->reason}};
    }
    json["fingerprint"] = report.fingerprint ? Json(*report.fingerprint) : Json(nullptr);
    json["warnings"] = Json::array();
    for (const Warning& warning : report.warnings) {
        json["warnings"].push_back({{"code", warning.code},
                                    {"slot", warning.slot ? Json(*warning.slot) : Json(nullptr)},
                                    {"detail", warning.detail}});
    }
    if (report.snapshot) {
        json["snapshot"] = *report.snapshot;
    }
    // Paths in the steps may hold bytes that are not UTF-8.
    out << json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

std::string ReportPrinter::Handle(unsigned handle) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", handle);
    return text;
}

}  // namespace tirsel::kvl::agent::driver::inspect
