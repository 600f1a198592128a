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

void FromRegistry(FirmwareTable& found) {
    std::vector<std::string>& steps = found.steps;
    const platform::RegistryObject service = platform::MatchingService(kSmBiosServiceClass);
    if (!service) {
        steps.push_back("no AppleSMBIOS service");
        return;
    }

    std::optional<firmware::RegistryEntryPoint> entry;
    {
        const auto property = platform::CopyProperty(service, CFSTR("SMBIOS-EPS"));
        if (!property) {
            steps.push_back("AppleSMBIOS has no SMBIOS-EPS property");
            return;
        }
        const std::optional<platform::DataView> bytes = platform::DataBytes(property.Get());
        if (!bytes) {
            steps.push_back("SMBIOS-EPS is not a data object");
            return;
        }
        entry = firmware::ReadRegistryEntryPoint(bytes->bytes, bytes->length);
        if (!entry) {
            steps.push_back("SMBIOS-EPS is " + std::to_string(bytes->length) +
                            " bytes, shorter than " + std::to_string(firmware::kEntryPointLength));
            return;
        }
    }
    found.entryMajor = entry->major;
    found.entryMinor = entry->minor;

    auto table = platform::CopyProperty(service, CFSTR("SMBIOS"));
    if (!table) {
        steps.push_back("AppleSMBIOS has no SMBIOS property");
        return;
    }
    const std::optional<platform::DataView> bytes = platform::DataBytes(table.Get());
    if (!bytes) {
        steps.push_back("SMBIOS is not a data object");
        return;
    }
    if (bytes->length < entry->tableLength) {
        steps.push_back("SMBIOS is " + std::to_string(bytes->length) + " bytes, shorter than the " +
                        std::to_string(entry->tableLength) +
                        " the entry point states: keeping what there is");
    }
    found.heldBytes = firmware::RegistryHeldBytes(*entry, bytes->bytes, bytes->length);
    table.Reset();

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

}  // namespace tirsel::kvl::agent::driver::smbios
