// Obtaining the machine's table: from the I/O Kit registry where there is no
// physical-memory device (macOS), otherwise by scanning physical memory.
#include "smbios/FirmwareTable.h"

#include <optional>
#include <utility>

#include "platform/FirmwarePaths.h"
#include "platform/RegistryService.h"
#include "smbios/EntryPoint.h"
#include "smbios/SmBios.h"
#include "smbios/SmBiosUnix.h"

namespace tirsel::kvl::agent::driver::smbios {

namespace {

constexpr const char* kSmBiosServiceClass = "AppleSMBIOS";

// A data property of the SMBIOS service: the reference, which keeps the bytes
// alive, and a view of them.
struct DataProperty {
    platform::CFReference<CFTypeRef> reference;
    platform::DataView bytes;
};

// The property `name` of `service` when it is a data object; otherwise
// nothing, with the step that says why.
std::optional<DataProperty> ReadDataProperty(const platform::RegistryObject& service,
                                             CFStringRef key, const std::string& name,
                                             std::vector<std::string>& steps) {
    platform::CFReference<CFTypeRef> reference = platform::CopyProperty(service, key);
    if (!reference) {
        steps.push_back(std::string(kSmBiosServiceClass) + " has no " + name + " property");
        return std::nullopt;
    }
    const std::optional<platform::DataView> bytes = platform::DataBytes(reference.Get());
    if (!bytes) {
        steps.push_back(name + " is not a data object");
        return std::nullopt;
    }
    return DataProperty{std::move(reference), *bytes};
}

void FromRegistry(FirmwareTable& found) {
    std::vector<std::string>& steps = found.steps;
    const platform::RegistryObject service = platform::MatchingService(kSmBiosServiceClass);
    if (!service) {
        steps.push_back("no AppleSMBIOS service");
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
            steps.push_back("SMBIOS-EPS is " + std::to_string(eps->bytes.length) +
                            " bytes, shorter than " + std::to_string(firmware::kEntryPointLength));
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
        steps.push_back("SMBIOS is " + std::to_string(bytes.length) + " bytes, shorter than the " +
                        std::to_string(entry->tableLength) +
                        " the entry point states: keeping what there is");
    }
    found.heldBytes = firmware::RegistryHeldBytes(*entry, bytes.bytes, bytes.length);
    table.reset();

    found.source = TableSource::Registry;
    steps.push_back("registry: SMBIOS " + std::to_string(entry->major) + "." +
                    std::to_string(entry->minor) + ", table of " +
                    std::to_string(found.heldBytes.size() - kTablePrefixSize) + " bytes");
}

void FromMemory(FirmwareTable& found) {
    SmBiosUnix memory;
    std::optional<std::vector<unsigned char>> held = memory.GetSystemFirmwareTable();
    found.steps.insert(found.steps.end(), memory.Steps().begin(), memory.Steps().end());
    if (held) {
        found.heldBytes = std::move(*held);
        found.entryMajor = memory.GetMajorVersion();
        found.entryMinor = memory.GetMinorVersion();
        found.source = memory.UsedEfiScan() ? TableSource::EfiScan : TableSource::LegacyScan;
    }
}

}  // namespace

FirmwareTable AcquireFirmwareTable() {
    FirmwareTable found;
    if (!platform::TableSourcesOn()) {
        found.steps.push_back("no table source: turned off in this test build");
        return found;
    }
    const std::string& device = platform::CurrentFirmwarePaths().memoryDevice;
    if (!platform::PathExists(device)) {
        found.steps.push_back(device + " is absent: using the I/O Kit registry");
        FromRegistry(found);
    } else {
        found.steps.push_back(device + " exists: scanning physical memory");
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
