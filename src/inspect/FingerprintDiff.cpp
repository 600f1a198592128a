#include "inspect/FingerprintDiff.h"

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <tuple>
#include <utility>

#include "business/CommandFailed.h"
#include "business/DigestSlots.h"
#include "business/FallbackSerials.h"
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
// fallback tools (on the machine, or replayed from a capture) reads one.
bool FromTable(const FingerprintReport& report) {
    return report.sourceKey != StepText::Source(smbios::SerialSource::Fallback).key &&
           report.sourceKey != StepText::kCaptureKey;
}

const char* SourceWords(bool table) {
    return table ? "an SMBIOS table" : "the fallback tools";
}

// What a capture's serials are made of, as the inspector compares them.
struct CaptureValues {
    std::string machineSerial;
    business::ValueSource serialSource = business::ValueSource::ReportLine;
    std::string processorName;
    business::ValueSource nameSource = business::ValueSource::ReportLine;
    std::string chip;
};

// The values of `reading`, by the rules the library computes with; nothing
// when it gives no serials.
std::optional<CaptureValues> ValuesOf(const business::FallbackReading& reading) {
    std::optional<business::FallbackSerials::Result> result;
    try {
        result = business::FallbackSerials::Of(reading);
    } catch (const business::CommandFailed&) {
        return std::nullopt;
    }
    CaptureValues values;
    values.machineSerial = result->serials.system;
    values.chip = business::FallbackSerials::ChipPart(reading.chipId);
    // The processor serial is the name, a blank and the chip part.
    const std::string& processor = result->serials.processor;
    values.processorName = processor.substr(0, processor.size() - values.chip.size() - 1);
    for (const business::ValueOrigin& origin : result->origins) {
        if (origin.label == business::ReportLine::Label::MachineSerial) {
            values.serialSource = origin.source;
        } else {
            values.nameSource = origin.source;
        }
    }
    return values;
}

// Which side, A or B, took a value from a source without a label.
const char* LabelFreeSide(business::ValueSource a) {
    return a != business::ValueSource::ReportLine ? "A" : "B";
}

}  // namespace

std::optional<std::string> FingerprintDiff::CaptureCause(const business::DigestSlots::Slot& slot,
                                                         const business::FallbackReading& a,
                                                         const business::FallbackReading& b) {
    using Id = business::DigestSlots::Id;
    const std::optional<CaptureValues> va = ValuesOf(a);
    const std::optional<CaptureValues> vb = ValuesOf(b);
    if (!va || !vb) {
        return std::nullopt;
    }
    if ((slot.id == Id::Chassis || slot.id == Id::System) && va->serialSource != vb->serialSource &&
        !va->machineSerial.empty() && !vb->machineSerial.empty()) {
        return std::string("a missing label: ") + LabelFreeSide(va->serialSource) +
               "'s report had no Serial Number line (the report in another language), so its "
               "serial came from IOPlatformSerialNumber; that it still differs points to another "
               "Mac, or a logic board repair";
    }
    if (slot.id != Id::Processor) {
        return std::nullopt;
    }
    const bool otherName = va->processorName != vb->processorName;
    const bool otherChip = va->chip != vb->chip;
    if (otherName && otherChip) {
        return "another chip name and unique-chip-id: another Mac";
    }
    if (otherChip) {
        return "another unique-chip-id with the same chip name: another Mac of the same kind (the "
               "identifier is the chip's own), or this Mac after a logic board repair";
    }
    if (va->nameSource != vb->nameSource) {
        return std::string("a missing label: ") + LabelFreeSide(va->nameSource) +
               "'s report had no Chip line (the report in another language), so its chip name "
               "came from machdep.cpu.brand_string, which words it differently";
    }
    return "a chip name change with the same unique-chip-id: an OS update that words the name "
           "differently, or a report taken under Rosetta";
}

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
        if (sa.*slot.serial == sb.*slot.serial) {
            continue;
        }
        std::optional<std::string> cause;
        if (a.reading && b.reading && a.serials && b.serials) {
            cause = CaptureCause(slot, *a.reading, *b.reading);
        }
        slots.push_back({slot.name, sa.*slot.serial, sb.*slot.serial,
                         cause ? *cause
                               : LikelyCause(slot, sa.*slot.serial, sb.*slot.serial, FromTable(a),
                                             FromTable(b))});
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
