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

// Acquisition yields held bytes; the model is then built from them as from
// any other held bytes.
void SmBios::LoadFromFirmware() {
    data.clear();
    const std::string& device = platform::CurrentFirmwarePaths().memoryDevice;
    std::optional<std::vector<unsigned char>> held;
    if (!platform::PathExists(device)) {
        steps.push_back(device + " is absent: using the I/O Kit registry");
        held = AcquireFromRegistry();
    } else {
        steps.push_back(device + " exists: scanning physical memory");
        held = AcquireFromMemory();
        if (!held) {
            Clear();
        }
    }
    if (held) {
        Adopt(std::move(*held));
    }
    loaded = !data.empty();
}

std::optional<std::vector<unsigned char>> SmBios::AcquireFromRegistry() {
    const platform::RegistryObject service = platform::MatchingService(kSmBiosServiceClass);
    if (!service) {
        steps.push_back("no AppleSMBIOS service");
        return std::nullopt;
    }

    std::optional<firmware::RegistryEntryPoint> entry;
    {
        const auto property = platform::CopyProperty(service, CFSTR("SMBIOS-EPS"));
        if (!property) {
            steps.push_back("AppleSMBIOS has no SMBIOS-EPS property");
            return std::nullopt;
        }
        const std::optional<platform::DataView> bytes = platform::DataBytes(property.Get());
        if (!bytes) {
            steps.push_back("SMBIOS-EPS is not a data object");
            return std::nullopt;
        }
        entry = firmware::ReadRegistryEntryPoint(bytes->bytes, bytes->length);
        if (!entry) {
            steps.push_back("SMBIOS-EPS is " + std::to_string(bytes->length) +
                            " bytes, shorter than " + std::to_string(firmware::kEntryPointLength));
            return std::nullopt;
        }
    }
    entryMajor = entry->major;
    entryMinor = entry->minor;

    auto table = platform::CopyProperty(service, CFSTR("SMBIOS"));
    if (!table) {
        steps.push_back("AppleSMBIOS has no SMBIOS property");
        return std::nullopt;
    }
    const std::optional<platform::DataView> bytes = platform::DataBytes(table.Get());
    if (!bytes) {
        steps.push_back("SMBIOS is not a data object");
        return std::nullopt;
    }
    if (bytes->length < entry->tableLength) {
        steps.push_back("SMBIOS is " + std::to_string(bytes->length) + " bytes, shorter than the " +
                        std::to_string(entry->tableLength) +
                        " the entry point states: keeping what there is");
    }
    std::vector<unsigned char> held =
        firmware::RegistryHeldBytes(*entry, bytes->bytes, bytes->length);
    table.Reset();

    source = TableSource::Registry;
    steps.push_back("registry: SMBIOS " + std::to_string(entry->major) + "." +
                    std::to_string(entry->minor) + ", table of " +
                    std::to_string(held.size() - kTablePrefixSize) + " bytes");
    return held;
}

std::optional<std::vector<unsigned char>> SmBios::AcquireFromMemory() {
    SmBiosUnix memory;
    std::optional<std::vector<unsigned char>> held = memory.GetSystemFirmwareTable();
    steps.insert(steps.end(), memory.Steps().begin(), memory.Steps().end());
    if (held) {
        entryMajor = memory.GetMajorVersion();
        entryMinor = memory.GetMinorVersion();
        source = memory.UsedEfiScan() ? TableSource::EfiScan : TableSource::LegacyScan;
    }
    return held;
}

}  // namespace tirsel::kvl::agent::driver::smbios
