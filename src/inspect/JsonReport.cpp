#include "inspect/JsonReport.h"

#include <nlohmann/json.hpp>

#include "business/DigestSlots.h"
#include "business/HwHashCalculator.h"
#include "common/Base64Coder.h"
#include "inspect/BadInput.h"
#include "inspect/FallbackCapture.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

using Json = nlohmann::json;
using business::DigestSlots;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The bytes of lower-case hex text, as ReportPrinter::Hex writes them.
std::string FromHex(const std::string& hex, const std::string& name) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    if (bytes.size() * 2 != hex.size()) {
        throw BadInput(name + ": \"" + hex + "\" is not lower-case hex of whole bytes");
    }
    return bytes;
}

FingerprintReport FromJson(const Json& json, const std::string& name) {
    if (!json.is_object()) {
        throw BadInput(name + " is JSON but not a grellaninspect --json report");
    }
    if (json.contains("same_fingerprint")) {
        throw BadInput(name + " is the result of --diff, not the report on one machine");
    }
    const Json& schema = json.at("schema");
    if (schema != 1) {
        throw BadInput(name + " is a report of schema " + schema.dump() +
                       "; this grellaninspect reads schema 1");
    }
    FingerprintReport report;
    report.sourceKey = json.at("source").get<std::string>();
    report.source =
        "--json report (" + name + ") of " + json.at("source_description").get<std::string>();
    if (json.at("serials").is_object()) {
        // "serials_hex" holds the digest input exactly; "serials" cannot hold
        // bytes that are not UTF-8.
        const Json& hex = json.at("serials_hex");
        business::HardwareSerials serials;
        for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
            serials.*slot.serial = FromHex(hex.at(slot.name).get<std::string>(), name);
        }
        report.serials = serials;
    }
    for (const Json& s : json.at("structures")) {
        const Json& number = s.at("string_number");
        report.structures.push_back(
            {s.at("slot").get<std::string>(), s.at("type").get<unsigned>(),
             s.at("handle").get<unsigned>(),
             number.is_null() ? std::nullopt : std::optional<unsigned>(number.get<unsigned>()),
             FromHex(s.at("hex").get<std::string>(), name)});
    }
    const Json& fingerprint = json.at("fingerprint");
    if (!fingerprint.is_null()) {
        report.fingerprint = fingerprint.get<std::string>();
    }
    const std::string computed =
        report.serials ? business::HwHashCalculator::HashText(*report.serials) : std::string();
    if (report.fingerprint.value_or("") != computed) {
        throw BadInput(name + ": its fingerprint (" + fingerprint.dump() +
                       ") is not the MD5 of its serials (" +
                       (computed.empty() ? "none" : computed) +
                       "): the report was edited or damaged");
    }
    if (json.contains("snapshot")) {
        report.snapshot = json.at("snapshot").get<std::string>();
        // A fallback report's snapshot is the capture of what it read.
        const std::vector<unsigned char> record = common::Base64Coder::Decode(*report.snapshot);
        if (FallbackCapture::IsCapture(record)) {
            report.reading = FallbackCapture::Read(record, name).reading;
        }
    }
    return report;
}

}  // namespace

FingerprintReport JsonReport::Parse(const std::string& text, const std::string& name) {
    try {
        return FromJson(Json::parse(text), name);
    } catch (const Json::exception& e) {
        throw BadInput(name + " is not a grellaninspect --json report: " + e.what());
    }
}

}  // namespace tirsel::kvl::agent::driver::inspect
