#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace grellan::bench {

using Bytes = std::vector<std::uint8_t>;

// Generated inputs shared by the benchmarks and the comparison script.
class BenchInputs {
public:
    // A realistic structure table of about 4 KiB: BIOS, system, board,
    // chassis, two processors, caches, slots, memory devices, OEM strings.
    static Bytes RealisticTable();
    // The registry's "SMBIOS-EPS" property for `table` (SMBIOS 2.8).
    static Bytes RegistryEntryPoint(const Bytes& table);
    // A 1 MiB memory image: the table at 0xF1000 and its 2.1 entry point at
    // 0xFA000, where both our legacy scan and dmidecode's find it.
    static Bytes MemoryImage(const Bytes& table);
    // An ioreg-style device-tree dump of about `size` bytes: nested
    // dictionaries and arrays, with "unique-chip-id" near the end.
    static std::string RegistryDump(std::size_t size);
    // Base64 text of `size` bytes, broken into indented lines as in a plist.
    static std::string Base64Text(std::size_t size);
};

}  // namespace grellan::bench
