#include "business/FallbackSerials.h"

#include <utility>

#include "business/CommandFailed.h"
#include "business/SerialLoader.h"
#include "common/Base64Coder.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

using Label = ReportLine::Label;

// The reading's labelled lines of `label`, or `none` where none were read:
// that counts as none found. (No static empty string: the library keeps no
// state of its own.)
const std::string& LinesOf(const FallbackReading& reading, Label label, const std::string& none) {
    const std::optional<std::string>& lines = reading.Lines(label);
    return lines ? *lines : none;
}

[[noreturn]] void ThrowMissing(Label label) {
    CommandVerdict verdict;
    if (label == Label::MachineSerial) {
        verdict.kind = CommandVerdict::Kind::NoMachineSerial;
        throw CommandFailed(SerialLoader::CommandText(FallbackCommand::MachineSerial), verdict);
    }
    verdict.kind = CommandVerdict::Kind::NoChipName;
    throw CommandFailed(SerialLoader::CommandText(FallbackCommand::ProcessorName), verdict);
}

ReportLine::Value ReportValue(const FallbackReading& reading, Label label) {
    const std::string none;
    std::optional<ReportLine::Value> value =
        ReportLine::Pick(LinesOf(reading, label, none), reading.LabelFree(label), label);
    if (!value) {
        ThrowMissing(label);
    }
    return std::move(*value);
}

FallbackStep Finding(FallbackStep::Kind kind) {
    FallbackStep step;
    step.kind = kind;
    return step;
}

}  // namespace

void FallbackSerials::RequireValue(const FallbackReading& reading, Label label) {
    // A labelled line gives a value, whatever it holds.
    const std::string none;
    if (LinesOf(reading, label, none).empty() &&
        !ReportLine::Pick(none, reading.LabelFree(label), label)) {
        ThrowMissing(label);
    }
}

FallbackSerials::Result FallbackSerials::Of(const FallbackReading& reading) {
    using Id = DigestSlots::Id;
    Result result;
    ReportLine::Value name = ReportValue(reading, Label::ProcessorName);
    ReportLine::Value machine = ReportValue(reading, Label::MachineSerial);
    const std::string chip = ChipPart(reading.chipId);
    const bool processorIdentified = !name.text.empty() || !chip.empty();
    // Without a chip identifier the processor serial is the name and a blank.
    result.serials.processor = name.text + ' ' + chip;
    result.origins.push_back({Id::Processor, Label::ProcessorName, name.source});
    // The chassis slot takes the same text as the system slot: one run of
    // the machine serial command, so the two can never disagree.
    result.serials.chassis = machine.text;
    result.serials.system = std::move(machine.text);
    result.origins.push_back({Id::Chassis, Label::MachineSerial, machine.source});
    result.origins.push_back({Id::System, Label::MachineSerial, machine.source});
    result.serials.baseboard = BoardSerial(reading.boardData);
    if (result.serials.system.empty()) {
        result.findings.push_back(Finding(FallbackStep::Kind::NoMachineSerial));
    }
    if (!processorIdentified) {
        result.findings.push_back(Finding(FallbackStep::Kind::NoProcessor));
    }
    if (result.serials.baseboard.empty()) {
        result.findings.push_back(Finding(FallbackStep::Kind::NoBoardSerial));
    }
    return result;
}

std::string FallbackSerials::ChipPart(const std::optional<std::string>& chipId) {
    std::string chip;
    if (chipId) {
        for (const std::string& run : common::Base64Coder().DecodeStringBytes(*chipId)) {
            chip += run;
        }
    }
    return chip;
}

std::string FallbackSerials::BoardSerial(const std::optional<std::string>& data) {
    if (!data) {
        return std::string();
    }
    // The serial ends at the first zero byte, or with the data itself.
    const std::size_t zero = data->find('\0');
    return data->substr(0, zero);
}

}  // namespace tirsel::kvl::agent::driver::business
