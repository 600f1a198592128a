#pragma once

#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::smbios {

// Where acquisition found the machine's table.
enum class TableSource { None, Registry, LegacyScan, EfiScan };

// What one acquisition of the machine's SMBIOS table found. The table model
// (SmBios) is built from `heldBytes`; the rest tells where they came from.
struct FirmwareTable {
    // Prefix and structure table (see SmBios); empty when no table was found.
    std::vector<unsigned char> heldBytes;
    TableSource source = TableSource::None;
    // The version the entry point states. The registry source sets it once the
    // entry point is read, even when the table property then fails.
    unsigned char entryMajor = 0;
    unsigned char entryMinor = 0;
    // What acquisition tried, in order, in words a support engineer can read
    // (for example "/dev/mem is absent" or "no AppleSMBIOS service").
    std::vector<std::string> steps;
};

// Reads the running machine's table: from the I/O Kit registry where the
// memory device does not exist (macOS), otherwise by scanning physical
// memory. No fallback from one source to the other; nothing is thrown but
// allocation failures.
FirmwareTable AcquireFirmwareTable();

}  // namespace tirsel::kvl::agent::driver::smbios
