#pragma once

#include <optional>
#include <vector>

#include "smbios/AcquisitionStep.h"

namespace tirsel::kvl::agent::driver::smbios {

// Reads the SMBIOS structure table out of physical memory through the memory
// device: from the legacy BIOS area, or on EFI firmware from the address that
// dmidecode reports. One object serves one acquisition.
class SmBiosUnix {
public:
    // The held bytes (16-byte prefix and table) of the accepted entry point,
    // or nothing. Updates the versions when it accepts an entry point.
    std::optional<std::vector<unsigned char>> GetSystemFirmwareTable();

    unsigned char GetMajorVersion() const { return majorVersion; }
    unsigned char GetMinorVersion() const { return minorVersion; }

    // Whether the last acquisition took the EFI scan.
    bool UsedEfiScan() const { return efiScan; }
    // What the acquisition did, in order.
    const std::vector<AcquisitionStep>& Steps() const { return steps; }

private:
    unsigned char majorVersion = 0;
    unsigned char minorVersion = 0;
    bool efiScan = false;
    std::vector<AcquisitionStep> steps;
};

}  // namespace tirsel::kvl::agent::driver::smbios
