#include "inspect/ReportBuilder.h"

#include <list>
#include <utility>

#include "business/DigestSlots.h"
#include "business/HwHashCalculator.h"
#include "inspect/StepText.h"
#include "inspect/WeakSerials.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

using business::DigestSlots;
using business::HwHashCalculator;
using smbios::SmBios;

std::size_t CountStructures(const SmBios& table) {
    std::size_t count = 0;
    std::list<SmBios::CStruct*> structures;
    for (unsigned type = 0; type < 256; ++type) {
        table.GetStructData(static_cast<unsigned char>(type), structures);
        count += structures.size();
    }
    return count;
}

std::string VersionText(const SmBios& table) {
    return StepText::Version(table.MajorVersion(), table.MinorVersion());
}

// Each structure's serial, in digest order, as the calculator reads it; a
// slot the table is too old for is said in the steps instead.
void AddStructures(const SmBios& table, FingerprintReport& report) {
    for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
        if (!DigestSlots::IsRead(slot, table.Version())) {
            report.steps.push_back(
                "SMBIOS " + VersionText(table) + " is older than " +
                StepText::Version(slot.sinceVersion >> 8, slot.sinceVersion & 0xFF) + ": " +
                slot.name + " serials are not read");
            continue;
        }
        for (const DigestSlots::Contribution& c : DigestSlots::Structures(slot, table)) {
            report.structures.push_back(
                {slot.name, slot.type, c.structure->header->Handle, c.stringNumber, c.serial});
        }
    }
}

}  // namespace

void ReportBuilder::AddWarnings(FingerprintReport& report) {
    if (report.serials && report.fingerprint) {
        report.warnings =
            WeakSerials::Find(*report.serials, report.structures, *report.fingerprint);
    }
}

FingerprintReport ReportBuilder::OfTable(const SmBios& table, business::HardwareSerials serials,
                                         std::string source, std::string sourceKey,
                                         std::vector<std::string> steps, bool withSnapshot) {
    FingerprintReport report;
    report.source = std::move(source);
    report.sourceKey = std::move(sourceKey);
    report.smbiosVersion = VersionText(table);
    report.steps = std::move(steps);
    const std::size_t held = table.HeldBytes().size();
    TableShape shape;
    shape.bytes = held > smbios::kTablePrefixSize ? held - smbios::kTablePrefixSize : 0;
    shape.structures = CountStructures(table);
    shape.walkEnd = smbios::WalkTable(table.HeldBytes());
    report.table = shape;
    report.steps.push_back("table of " + std::to_string(shape.bytes) + " bytes, " +
                           std::to_string(shape.structures) + " structures indexed");
    AddStructures(table, report);
    report.serials = std::move(serials);
    report.fingerprint = HwHashCalculator::HashText(*report.serials);
    AddWarnings(report);
    if (withSnapshot) {
        report.snapshot = table.SnapshotText();
    }
    return report;
}

FingerprintReport ReportBuilder::OfFallback(const business::SerialComputation& computation,
                                            std::string source, std::string sourceKey,
                                            std::vector<std::string> steps, bool withSnapshot) {
    FingerprintReport report;
    report.source = std::move(source);
    report.sourceKey = std::move(sourceKey);
    report.steps = std::move(steps);
    for (std::string& step : StepText::Steps(computation)) {
        report.steps.push_back(std::move(step));
    }
    if (computation.failedCommand) {
        report.toolFailure = ToolFailure{computation.failedCommand->command,
                                         StepText::Verdict(computation.failedCommand->verdict)};
    }
    report.valueOrigins = computation.valueOrigins;
    report.reading = computation.reading;
    report.serials = computation.serials;
    if (report.serials) {
        report.fingerprint = HwHashCalculator::HashText(*report.serials);
        AddWarnings(report);
    }
    if (withSnapshot && !computation.reading.Empty()) {
        report.snapshot = CaptureOf(report).Text();
    }
    return report;
}

FingerprintReport ReportBuilder::OfCapture(const FallbackCapture& capture, std::string source,
                                           std::string sourceKey, std::vector<std::string> steps) {
    if (!capture.failureStep) {
        return OfFallback(business::SerialComputation::OfReading(capture.reading),
                          std::move(source), std::move(sourceKey), std::move(steps), false);
    }
    FingerprintReport report;
    report.source = std::move(source);
    report.sourceKey = std::move(sourceKey);
    report.steps = std::move(steps);
    report.steps.push_back(*capture.failureStep);
    report.toolFailure = capture.toolFailure;
    report.reading = capture.reading;
    return report;
}

FallbackCapture ReportBuilder::CaptureOf(const FingerprintReport& report) {
    FallbackCapture capture;
    capture.reading = report.reading.value_or(business::FallbackReading());
    if (!report.serials && !report.steps.empty()) {
        // A computation without serials ends with the step that says why.
        capture.failureStep = report.steps.back();
        capture.toolFailure = report.toolFailure;
    }
    return capture;
}

FingerprintReport ReportBuilder::OfHeldBytes(std::vector<unsigned char> heldBytes,
                                             std::string source, std::string sourceKey,
                                             std::vector<std::string> steps, bool withSnapshot) {
    const SmBios table(std::move(heldBytes));
    return OfTable(table, HwHashCalculator().SerialsFromTable(table), std::move(source),
                   std::move(sourceKey), std::move(steps), withSnapshot);
}

}  // namespace tirsel::kvl::agent::driver::inspect
