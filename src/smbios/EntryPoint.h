#pragma once

// The byte logic of firmware table acquisition: reading SMBIOS 2.1 entry
// points, recognising them during a memory scan, and building the held bytes.
// No platform calls here; the callers bring the bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "smbios/Checksum.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::smbios::firmware {

using Bytes = std::vector<unsigned char>;

// The 2.1 entry point up to and including its BCD revision byte (0x1E).
constexpr std::size_t kEntryPointLength = 0x1F;
// What a memory scan reads at every step, and the step.
constexpr std::size_t kProbeLength = 16;
constexpr std::uint64_t kProbeStep = 16;
// The legacy BIOS area the scan covers: first and last probe address.
constexpr std::uint64_t kLegacyScanFirst = 0xE0000;
constexpr std::uint64_t kLegacyScanLast = 0xFFFE0;
// How far past its start address an EFI scan looks before it gives up.
constexpr std::uint64_t kEfiScanSpan = 0x100000;
// Prints the line holding the structure table address on EFI firmware.
constexpr const char* kTableAddressCommand = "dmidecode | grep 'Table at'";

inline std::uint16_t ReadLe16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The held bytes: prefix (0, major, minor, revision, length LE32, 8 zero
// bytes) followed by `length` bytes from `table`.
inline Bytes HeldBytes(std::uint8_t major, std::uint8_t minor, std::uint8_t revision,
                       const unsigned char* table, std::uint32_t length) {
    Bytes held;
    held.reserve(kTablePrefixSize + length);
    held.push_back(0);
    held.push_back(major);
    held.push_back(minor);
    held.push_back(revision);
    for (int shift = 0; shift < 32; shift += 8) {
        held.push_back(static_cast<unsigned char>(length >> shift));
    }
    held.resize(kTablePrefixSize, 0);
    if (length > 0) {
        held.insert(held.end(), table, table + length);
    }
    return held;
}

// What the registry source takes from the "SMBIOS-EPS" property, read at the
// fixed offsets of the 2.1 layout whatever its anchor says.
struct RegistryEntryPoint {
    std::uint8_t major = 0;         // 0x06
    std::uint8_t minor = 0;         // 0x07
    std::uint16_t tableLength = 0;  // 0x16
    std::uint8_t revision = 0;      // 0x1E, BCD
};

// Nothing for a property too short to hold those offsets.
inline std::optional<RegistryEntryPoint> ReadRegistryEntryPoint(const unsigned char* bytes,
                                                                std::size_t length) {
    if (bytes == nullptr || length < kEntryPointLength) {
        return std::nullopt;
    }
    RegistryEntryPoint entry;
    entry.major = bytes[0x06];
    entry.minor = bytes[0x07];
    entry.tableLength = ReadLe16(bytes + 0x16);
    entry.revision = bytes[0x1E];
    return entry;
}

// The held bytes from the registry's two properties. A table property shorter
// than the entry point states gives a table of the property's own length.
inline Bytes RegistryHeldBytes(const RegistryEntryPoint& entry, const unsigned char* table,
                               std::size_t tableLength) {
    const std::uint32_t length = tableLength < entry.tableLength
                                     ? static_cast<std::uint32_t>(tableLength)
                                     : entry.tableLength;
    return HeldBytes(entry.major, entry.minor, entry.revision, table, length);
}

// An entry point a memory scan accepted at its intermediate ("_DMI_") part.
struct AcceptedEntryPoint {
    std::uint64_t anchorAddress = 0;  // where the "_SM_" part was seen
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t revision = 0;
    std::uint16_t tableLength = 0;
    std::uint32_t tableAddress = 0;
};

// Looks at the 16-byte probes of a memory scan, in address order. An "_SM_"
// anchor gives candidate versions (its own checksum is not tested); a later
// "_DMI_" part with a correct checksum is accepted once a candidate major
// version other than 0 has been seen.
class EntryPointScanner {
public:
    std::optional<AcceptedEntryPoint> Examine(std::uint64_t address, const unsigned char* probe) {
        if (std::memcmp(probe, "_SM_", 4) == 0) {
            candidateMajor = probe[6];
            candidateMinor = probe[7];
            anchorAddress = address;
            return std::nullopt;
        }
        if (candidateMajor == 0 || std::memcmp(probe, "_DMI_", 5) != 0 ||
            !checksum(probe, kProbeLength - 1)) {
            return std::nullopt;
        }
        AcceptedEntryPoint entry;
        entry.anchorAddress = anchorAddress;
        entry.revision = probe[14];
        if (entry.revision != 0) {
            entry.major = static_cast<std::uint8_t>(entry.revision >> 4);
            entry.minor = static_cast<std::uint8_t>(entry.revision & 0x0F);
        } else {
            entry.major = candidateMajor;
            entry.minor = candidateMinor;
        }
        entry.tableLength = ReadLe16(probe + 6);
        entry.tableAddress = ReadLe32(probe + 8);
        return entry;
    }

private:
    std::uint8_t candidateMajor = 0;
    std::uint8_t candidateMinor = 0;
    std::uint64_t anchorAddress = 0;
};

// The first probe address of an EFI scan from the "Table at" line: the
// hexadecimal number that follows the first "0x", read from the text between
// it and the output's last character (which dmidecode prints as a period).
// Nothing when there is no "0x", no number, or a negative one.
inline std::optional<std::uint64_t> ParseTableAddress(const std::string& output) {
    if (output.size() < 2) {
        return std::nullopt;
    }
    const std::size_t marker = output.find("0x");
    if (marker == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t first = marker + 2;
    const std::size_t end = output.size() - 1;
    if (first >= end) {
        return std::nullopt;
    }
    std::istringstream text(output.substr(first, end - first));
    // Read the "C" way (which bytes are white space, digit grouping), whatever
    // locale the host has set.
    text.imbue(std::locale::classic());
    std::int64_t address = 0;
    text >> std::hex >> address;
    if (text.fail() || address < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(address);
}

}  // namespace tirsel::kvl::agent::driver::smbios::firmware
