#include "inspect/FingerprintDiff.h"

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <tuple>
#include <utility>

#include "business/DigestSlots.h"
#include "grellan/grellan.h"
#include "inspect/ReportPrinter.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

using Json = nlohmann::ordered_json;

Json OptionalString(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

FingerprintDiff::FingerprintDiff(const FingerprintReport& a, const FingerprintReport& b,
                                 std::string nameA, std::string nameB)
    : nameA(std::move(nameA)),
      nameB(std::move(nameB)),
      fingerprintA(a.fingerprint.value_or("")),
      fingerprintB(b.fingerprint.value_or("")) {
    const business::HardwareSerials none;
    const business::HardwareSerials& sa = a.serials ? *a.serials : none;
    const business::HardwareSerials& sb = b.serials ? *b.serials : none;
    for (const business::DigestSlots::Slot& slot : business::DigestSlots::kDigestOrder) {
        if (sa.*slot.serial != sb.*slot.serial) {
            slots.push_back({slot.name, sa.*slot.serial, sb.*slot.serial});
        }
    }
    // Structures matched by slot, type and handle, in digest order of A, then
    // those only B has.
    using Key = std::tuple<std::string, unsigned, unsigned>;
    std::map<Key, const StructureSerial*> inB;
    for (const StructureSerial& s : b.structures) {
        inB.emplace(Key{s.slot, s.type, s.handle}, &s);
    }
    std::map<Key, bool> seen;
    for (const StructureSerial& s : a.structures) {
        const Key key{s.slot, s.type, s.handle};
        seen[key] = true;
        const auto found = inB.find(key);
        if (found == inB.end()) {
            structures.push_back({s.slot, s.type, s.handle, s.serial, std::nullopt});
        } else if (found->second->serial != s.serial) {
            structures.push_back({s.slot, s.type, s.handle, s.serial, found->second->serial});
        }
    }
    for (const StructureSerial& s : b.structures) {
        if (seen.count(Key{s.slot, s.type, s.handle}) == 0) {
            structures.push_back({s.slot, s.type, s.handle, std::nullopt, s.serial});
        }
    }
}

void FingerprintDiff::PrintText(std::ostream& out) const {
    out << "A: " << nameA << "\n"
        << "   fingerprint " << fingerprintA << "\n"
        << "B: " << nameB << "\n"
        << "   fingerprint " << fingerprintB << "\n";
    for (const SlotChange& change : slots) {
        out << "slot " << change.slot << " differs: " << ReportPrinter::Quote(change.a) << " -> "
            << ReportPrinter::Quote(change.b) << "\n";
    }
    const auto show = [](const std::optional<std::string>& value) {
        return value ? ReportPrinter::Quote(*value) : std::string("(no such structure)");
    };
    for (const StructureChange& change : structures) {
        out << "structure type " << change.type << " handle "
            << ReportPrinter::Handle(change.handle) << " (" << change.slot
            << ") differs: " << show(change.a) << " -> " << show(change.b) << "\n";
    }
    out << (SameFingerprint() ? "same fingerprint\n" : "fingerprints differ\n");
}

void FingerprintDiff::PrintJson(std::ostream& out) const {
    Json json;
    json["schema"] = 1;
    json["tool_version"] = GRELLAN_VERSION_STRING;
    json["a"] = {{"input", nameA}, {"fingerprint", fingerprintA}};
    json["b"] = {{"input", nameB}, {"fingerprint", fingerprintB}};
    json["same_fingerprint"] = SameFingerprint();
    json["slots"] = Json::array();
    for (const SlotChange& change : slots) {
        json["slots"].push_back({{"slot", change.slot}, {"a", change.a}, {"b", change.b}});
    }
    json["structures"] = Json::array();
    for (const StructureChange& change : structures) {
        json["structures"].push_back({{"slot", change.slot},
                                      {"type", change.type},
                                      {"handle", change.handle},
                                      {"a", OptionalString(change.a)},
                                      {"b", OptionalString(change.b)}});
    }
    out << json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace tirsel::kvl::agent::driver::inspect
