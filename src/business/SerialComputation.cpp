#include "business/SerialComputation.h"

#include <utility>

#include "business/CommandFailed.h"
#include "business/HwHashCalculator.h"
#include "business/SerialLoader.h"
#include "smbios/FirmwareTable.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

FallbackStep StepOf(FallbackStep::Kind kind) {
    FallbackStep step;
    step.kind = kind;
    return step;
}

// The step that ends a computation whose source threw what is in flight.
// A command that gave no usable answer leaves its serial unknown; otherwise
// the processor serial's parse of ioreg's registry dump is what throws.
FallbackStep Failure(SerialComputation& computation) {
    computation.error = std::current_exception();
    try {
        throw;
    } catch (const CommandFailed& e) {
        computation.failedCommand = FailedCommand{e.Command(), e.Verdict()};
        return StepOf(FallbackStep::Kind::GaveNoAnswer);
    } catch (...) {
        return StepOf(FallbackStep::Kind::DumpUnreadable);
    }
}

}  // namespace

SerialComputation SerialComputation::OfThisMachine() {
    smbios::FirmwareTable acquired = smbios::AcquireFirmwareTable();
    const smbios::SerialSource found = acquired.source;
    std::vector<smbios::AcquisitionStep> steps = std::move(acquired.steps);
    auto table = std::make_unique<const smbios::SmBios>(std::move(acquired));
    if (!table->loaded) {
        return OfFallbackTools(std::move(steps));
    }
    SerialComputation computation;
    computation.source = found;
    computation.acquisition = std::move(steps);
    computation.serials = HwHashCalculator().SerialsFromTable(*table);
    computation.table = std::move(table);
    return computation;
}

SerialComputation SerialComputation::OfFallbackTools(
    std::vector<smbios::AcquisitionStep> acquisition) {
    SerialComputation computation;
    computation.source = smbios::SerialSource::Fallback;
    computation.acquisition = std::move(acquisition);
    // The asking, one outcome per command, then a failure or what the
    // serials lack.
    computation.fallback.reserve(8);
    computation.fallback.push_back(StepOf(FallbackStep::Kind::AskingTools));
    try {
        SerialLoader loader;
        loader.RunCommandsTogether(computation.reading, computation.fallback);
        computation.reading.boardData = SerialLoader::ReadBoardData();
    } catch (const std::exception&) {
        computation.fallback.push_back(Failure(computation));
        return computation;
    }
    computation.Complete();
    return computation;
}

SerialComputation SerialComputation::OfReading(FallbackReading reading) {
    SerialComputation computation;
    computation.source = smbios::SerialSource::Fallback;
    computation.reading = std::move(reading);
    computation.Complete();
    return computation;
}

void SerialComputation::Complete() {
    try {
        FallbackSerials::Result result = FallbackSerials::Of(reading);
        serials = std::move(result.serials);
        valueOrigins = std::move(result.origins);
        fallback.insert(fallback.end(), result.findings.begin(), result.findings.end());
    } catch (const std::exception&) {
        fallback.push_back(Failure(*this));
    }
}

const HardwareSerials& SerialComputation::Serials() const {
    if (!serials) {
        std::rethrow_exception(error);  // set whenever the serials are absent
    }
    return *serials;
}

}  // namespace tirsel::kvl::agent::driver::business
