// Obtaining the machine's table: from the I/O Kit registry where there is no
// physical-memory device (macOS), otherwise by scanning physical memory.
#include "smbios/FirmwareTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/FirmwarePaths.h"
#include "platform/RegistryService.h"
#include "smbios/EntryPoint.h"
#include "smbios/SmBios.h"
#include "smbios/SmBiosUnix.h"

namespace tirsel::kvl::agent::driver::smbios {

namespace {

constexpr const char* kSmBiosServiceClass = "AppleSMBIOS";

using Kind = AcquisitionStep::Kind;

AcquisitionStep StepOf(Kind kind) {
    AcquisitionStep step;
    step.kind = kind;
    return step;
}

// A step about the registry property `name`.
AcquisitionStep PropertyStep(Kind kind, const char* name, std::uint64_t length = 0,
                             std::uint64_t stated = 0) {
    AcquisitionStep step = StepOf(kind);
    step.property = name;
    step.length = length;
    step.stated = stated;
    return step;
}

// A step about the memory device at `path`.
AcquisitionStep DeviceStep(Kind kind, const std::string& path) {
    AcquisitionStep step = StepOf(kind);
    step.path = path;
    return step;
}

// A data property of the SMBIOS service: the reference, which keeps the bytes
// alive, and a view of them.
struct DataProperty {
    platform::CFReference<CFTypeRef> reference;
    platform::DataView bytes;
};

// The property `name` of `service` when it is a data object; otherwise
// nothing, with the step that says why.
std::optional<DataProperty> ReadDataProperty(const platform::RegistryObject& service,
                                             CFStringRef key, const char* name,
                                             std::vector<AcquisitionStep>& steps) {
    platform::CFReference<CFTypeRef> reference = platform::CopyProperty(service, key);
    if (!reference) {
        steps.push_back(PropertyStep(Kind::NoProperty, name));
        return std::nullopt;
    }
    const std::optional<platform::DataView> bytes = platform::DataBytes(reference.Get());
    if (!bytes) {
        steps.push_back(PropertyStep(Kind::NotData, name));
        return std::nullopt;
    }
    return DataProperty{std::move(reference), *bytes};
}

void FromRegistry(FirmwareTable& found) {
    std::vector<AcquisitionStep>& steps = found.steps;
    const platform::RegistryObject service = platform::MatchingService(kSmBiosServiceClass);
    if (!service) {
        steps.push_back(StepOf(Kind::NoService));
        return;
    }

    std::optional<firmware::RegistryEntryPoint> entry;
    {
        const std::optional<DataProperty> eps =
            ReadDataProperty(service, CFSTR("SMBIOS-EPS"), "SMBIOS-EPS", steps);
        if (!eps) {
            return;
        }
        entry = firmware::ReadRegistryEntryPoint(eps->bytes.bytes, eps->bytes.length);
        if (!entry) {
            steps.push_back(PropertyStep(Kind::EntryPointShort, "SMBIOS-EPS", eps->bytes.length,
                                         firmware::kEntryPointLength));
            return;
        }
    }
    found.entryMajor = entry->major;
    found.entryMinor = entry->minor;

    std::optional<DataProperty> table = ReadDataProperty(service, CFSTR("SMBIOS"), "SMBIOS", steps);
    if (!table) {
        return;
    }
    const platform::DataView& bytes = table->bytes;
    if (bytes.length < entry->tableLength) {
        steps.push_back(PropertyStep(Kind::TableShort, "SMBIOS", bytes.length, entry->tableLength));
    }
    found.heldBytes = firmware::RegistryHeldBytes(*entry, bytes.bytes, bytes.length);
    table.reset();

    found.source = SerialSource::RegistryTable;
    AcquisitionStep loaded = StepOf(Kind::RegistryTable);
    loaded.major = entry->major;
    loaded.minor = entry->minor;
    loaded.length = found.heldBytes.size() - kTablePrefixSize;
    steps.push_back(std::move(loaded));
}

void FromMemory(FirmwareTable& found) {
    SmBiosUnix memory;
    std::optional<std::vector<unsigned char>> held = memory.GetSystemFirmwareTable();
    found.steps.insert(found.steps.end(), memory.Steps().begin(), memory.Steps().end());
    if (held) {
        found.heldBytes = std::move(*held);
        found.entryMajor = memory.GetMajorVersion();
        found.entryMinor = memory.GetMinorVersion();
        found.source = memory.UsedEfiScan() ? SerialSource::EfiScan : SerialSource::LegacyScan;
    }
}

}  // namespace

FirmwareTable AcquireFirmwareTable() {
    FirmwareTable found;
    if (!platform::TableSourcesOn()) {
        found.steps.push_back(StepOf(Kind::SourcesOff));
        return found;
    }
    const std::string& device = platform::CurrentFirmwarePaths().memoryDevice;
    if (!platform::PathExists(device)) {
        found.steps.push_back(DeviceStep(Kind::DeviceAbsent, device));
        FromRegistry(found);
    } else {
        found.steps.push_back(DeviceStep(Kind::DeviceExists, device));
        FromMemory(found);
    }
    return found;
}

// The table model's two members that read the firmware live here, with the
// acquisition, so that the model itself only holds the bytes it is given.
SmBios::SmBios() {
    LoadFromFirmware();
}

void SmBios::LoadFromFirmware() {
    Load(AcquireFirmwareTable());
}

}  // namespace tirsel::kvl::agent::driver::smbios
