#include "business/SerialComputation.h"

#include <utility>

#include "business/CommandFailed.h"
#include "business/HwHashCalculator.h"
#include "business/SerialLoader.h"
#include "smbios/FirmwareTable.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

SerialSource SourceOf(smbios::TableSource found) {
    switch (found) {
        case smbios::TableSource::Registry:
            return SerialSource::RegistryTable;
        case smbios::TableSource::LegacyScan:
            return SerialSource::LegacyScan;
        case smbios::TableSource::EfiScan:
            return SerialSource::EfiScan;
        case smbios::TableSource::None:
            break;
    }
    return SerialSource::Fallback;
}

// The four serials from the tools: their three commands at once, then the
// registry. `processorIdentified` says whether the tools gave a processor
// name or chip identifier bytes, that is whether the processor serial holds
// anything of the machine. `steps` gets each command's outcome, `origins`
// where each value of system_profiler's report came from.
HardwareSerials FromTools(bool& processorIdentified, std::vector<std::string>& steps,
                          std::vector<ValueOrigin>& origins) {
    SerialLoader loader;
    const SerialLoader::CommandSerials found = loader.RunCommandsTogether(steps);
    HardwareSerials serials;
    serials.processor = found.processor.Serial();
    processorIdentified = found.processor.Identified();
    origins.push_back({"processor", "name", found.processor.nameSource});
    // The chassis slot takes the same text as the system slot: one run of
    // the machine serial command, so the two can never disagree.
    serials.chassis = found.machine.text;
    serials.system = found.machine.text;
    origins.push_back({"chassis", "serial number", found.machine.source});
    origins.push_back({"system", "serial number", found.machine.source});
    serials.baseboard = loader.GetBaseBoardSerial();
    return serials;
}

}  // namespace

SerialComputation SerialComputation::OfThisMachine() {
    smbios::FirmwareTable acquired = smbios::AcquireFirmwareTable();
    const smbios::TableSource found = acquired.source;
    std::vector<std::string> steps = std::move(acquired.steps);
    auto table = std::make_unique<const smbios::SmBios>(std::move(acquired));
    if (!table->loaded) {
        return OfFallbackTools(std::move(steps));
    }
    SerialComputation computation;
    computation.source = SourceOf(found);
    computation.steps = std::move(steps);
    computation.serials = HwHashCalculator().SerialsFromTable(*table);
    computation.table = std::move(table);
    return computation;
}

SerialComputation SerialComputation::OfFallbackTools(std::vector<std::string> steps) {
    SerialComputation computation;
    computation.source = SerialSource::Fallback;
    computation.steps = std::move(steps);
    computation.steps.push_back("no SMBIOS table: asking system_profiler, ioreg and the registry");
    bool processorIdentified = true;
    try {
        computation.serials =
            FromTools(processorIdentified, computation.steps, computation.valueOrigins);
    } catch (const CommandFailed& e) {
        // A tool that failed leaves its serial unknown: no fingerprint.
        computation.error = std::current_exception();
        computation.failedCommand = FailedCommand{e.Command(), e.Reason()};
        computation.steps.push_back("a tool failed (" + e.Reason() + "): " + e.Command());
        return computation;
    } catch (const std::exception& e) {
        // Otherwise the processor serial's parse of ioreg's registry dump is
        // what throws.
        computation.error = std::current_exception();
        computation.steps.push_back(std::string("the registry dump could not be parsed: ") +
                                    e.what());
        return computation;
    }
    const HardwareSerials& serials = *computation.serials;
    if (serials.system.empty()) {
        computation.steps.push_back("system_profiler's Serial Number line holds no serial");
    }
    if (!processorIdentified) {
        computation.steps.push_back(
            "no processor name (its Chip or Processor Name line is empty) and no unique-chip-id");
    }
    if (serials.baseboard.empty()) {
        computation.steps.push_back(
            "no mlb-serial-number data in the IOPlatformExpertDevice registry service");
    }
    return computation;
}

const HardwareSerials& SerialComputation::Serials() const {
    if (!serials) {
        std::rethrow_exception(error);  // set whenever the serials are absent
    }
    return *serials;
}

}  // namespace tirsel::kvl::agent::driver::business
