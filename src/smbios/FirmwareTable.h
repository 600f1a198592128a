#pragma once

#include <vector>

#include "smbios/AcquisitionStep.h"
#include "smbios/SerialSource.h"

namespace tirsel::kvl::agent::driver::smbios {

// What one acquisition of the machine's SMBIOS table found. The table model
// (SmBios) is built from `heldBytes`; the rest tells where they came from.
struct FirmwareTable {
    // Prefix and structure table (see SmBios); empty when no table was found.
    std::vector<unsigned char> heldBytes;
    // The source that gave the table: None, or one of the three table sources.
    SerialSource source = SerialSource::None;
    // The version the entry point states. The registry source sets it once the
    // entry point is read, even when the table property then fails.
    unsigned char entryMajor = 0;
    unsigned char entryMinor = 0;
    // What acquisition tried, in order (for example: the memory device is
    // absent, there is no AppleSMBIOS service).
    std::vector<AcquisitionStep> steps;
};

// Reads the running machine's table: from the I/O Kit registry where the
// memory device does not exist (macOS), otherwise by scanning physical
// memory. No fallback from one source to the other; nothing is thrown but
// allocation failures.
FirmwareTable AcquireFirmwareTable();

}  // namespace tirsel::kvl::agent::driver::smbios
