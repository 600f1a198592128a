// Obtaining the machine's table: from the I/O Kit registry where there is no
// physical-memory device (macOS), otherwise by scanning physical memory.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FirmwarePaths.h"
#include "platform/RegistryService.h"
#include "smbios/EntryPoint.h"
#include "smbios/SmBios.h"
#include "smbios/SmBiosUnix.h"

namespace tirsel::kvl::agent::driver::smbios {

namespace {

constexpr const char* kSmBiosServiceClass = "AppleSMBIOS";

}  // namespace

void SmBios::LoadFromFirmware() {
    data.clear();
    const std::string& device = platform::CurrentFirmwarePaths().memoryDevice;
    if (!platform::PathExists(device)) {
        steps.push_back(device + " is absent: using the I/O Kit registry");
        LoadFromRegistry();
    } else {
        steps.push_back(device + " exists: scanning physical memory");
        LoadFromMemory();
    }
    loaded = !data.empty();
}

void SmBios::LoadFromRegistry() {
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
    entryMajor = entry->major;
    entryMinor = entry->minor;

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
    std::vector<unsigned char> held =
        firmware::RegistryHeldBytes(*entry, bytes->bytes, bytes->length);
    table.Reset();

    Adopt(std::move(held));
    source = TableSource::Registry;
    steps.push_back("registry: SMBIOS " + std::to_string(entry->major) + "." +
                    std::to_string(entry->minor) + ", table of " +
                    std::to_string(data.size() - kTablePrefixSize) + " bytes");
}

void SmBios::LoadFromMemory() {
    SmBiosUnix memory;
    std::optional<std::vector<unsigned char>> held = memory.GetSystemFirmwareTable();
    steps.insert(steps.end(), memory.Steps().begin(), memory.Steps().end());
    if (held) {
        entryMajor = memory.GetMajorVersion();
        entryMinor = memory.GetMinorVersion();
        Adopt(std::move(*held));
        source = memory.UsedEfiScan() ? TableSource::EfiScan : TableSource::LegacyScan;
    } else {
        Clear();
    }
}

}  // namespace tirsel::kvl::agent::driver::smbios
