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
#include "inspect/StepText.h"
#include "inspect/WeakSerials.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

using Json = nlohmann::ordered_json;

Json OptionalString(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// Whether the report's serials came from a table: every source but the
// fallback tools reads one.
bool FromTable(const FingerprintReport& report) {
    return report.sourceKey != StepText::Source(smbios::SerialSource::Fallback).key;
}

const char* SourceWords(bool table) {
    return table ? "an SMBIOS table" : "the fallback tools";
}

}  // namespace

std::string FingerprintDiff::LikelyCause(const business::DigestSlots::Slot& slot,
                                         const std::string& a, const std::string& b, bool tableA,
                                         bool tableB) {
    if (tableA != tableB) {
        return std::string("A's serials come from ") + SourceWords(tableA) + ", B's from " +
               SourceWords(tableB) + ": they differ on one Mac too; compare captures of one source";
    }
    if (a.empty() || b.empty()) {
        return std::string("empty in ") + (a.empty() ? "A" : "B") +
               ": its source gave no serial (a tool failed or printed no such line, or the "
               "firmware left the field blank)";
    }
    if (WeakSerials::Key(a) == WeakSerials::Key(b)) {
        return "the same letters and digits written differently: how the serial was read "
               "changed, not the hardware";
    }
    const bool placeholderA = WeakSerials::IsPlaceholder(a);
    if (placeholderA || WeakSerials::IsPlaceholder(b)) {
        return std::string("a firmware placeholder in ") + (placeholderA ? "A" : "B") +
               ": the firmware was updated or a board replaced";
    }
    if (WeakSerials::VirtualMachine(a) || WeakSerials::VirtualMachine(b)) {
        return "a virtual machine's serial: another virtual machine, or a clone given a new "
               "identity";
    }
    using Id = business::DigestSlots::Id;
    if (slot.id == Id::Baseboard) {
        return "another logic board serial: the logic board was replaced, or another machine";
    }
    if (slot.id == Id::Processor) {
        return tableA ? "other processor serials: a processor changed, added or removed, or "
                        "another machine"
                      : "another chip name or unique-chip-id: another Mac, or the name "
                        "reported differently (an OS update, the report in another language)";
    }
    return tableA ? std::string("another ") + slot.name +
                        " serial: another machine, or its board or chassis replaced"
                  : "another machine serial (one report line fills the chassis and system "
                    "slots): another Mac, or this Mac after a logic board repair";
}

FingerprintDiff::FingerprintDiff(const FingerprintReport& a, const FingerprintReport& b,
                                 std::string nameA, std::string nameB)
    : nameA(std::move(nameA)),
      nameB(std::move(nameB)),
      sourceA(a.source),
      sourceB(b.source),
      fingerprintA(a.fingerprint.value_or("")),
      fingerprintB(b.fingerprint.value_or("")) {
    const business::HardwareSerials none;
    const business::HardwareSerials& sa = a.serials ? *a.serials : none;
    const business::HardwareSerials& sb = b.serials ? *b.serials : none;
    for (const business::DigestSlots::Slot& slot : business::DigestSlots::kDigestOrder) {
        if (sa.*slot.serial != sb.*slot.serial) {
            slots.push_back(
                {slot.name, sa.*slot.serial, sb.*slot.serial,
                 LikelyCause(slot, sa.*slot.serial, sb.*slot.serial, FromTable(a), FromTable(b))});
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
    const auto fingerprint = [](const std::string& value) {
        return value.empty() ? std::string("none") : value;
    };
    out << "A: " << nameA << "\n"
        << "   source      " << sourceA << "\n"
        << "   fingerprint " << fingerprint(fingerprintA) << "\n"
        << "B: " << nameB << "\n"
        << "   source      " << sourceB << "\n"
        << "   fingerprint " << fingerprint(fingerprintB) << "\n";
    for (const SlotChange& change : slots) {
        out << "slot " << change.slot << " differs: " << ReportPrinter::Quote(change.a) << " -> "
            << ReportPrinter::Quote(change.b) << "\n"
            << "  likely cause: " << change.cause << "\n";
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
    json["a"] = {{"input", nameA}, {"source", sourceA}, {"fingerprint", fingerprintA}};
    json["b"] = {{"input", nameB}, {"source", sourceB}, {"fingerprint", fingerprintB}};
    json["same_fingerprint"] = SameFingerprint();
    json["slots"] = Json::array();
    for (const SlotChange& change : slots) {
        json["slots"].push_back(
            {{"slot", change.slot}, {"a", change.a}, {"b", change.b}, {"cause", change.cause}});
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
