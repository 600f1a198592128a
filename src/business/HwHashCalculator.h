#pragma once

#include <cstddef>
#include <string>

#include "business/HardwareSerials.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::business {

// Gathers the chassis, system, baseboard and processor serials and returns the
// MD5 of their concatenation as 32 lower-case hexadecimal characters.
class HwHashCalculator {
public:
    // Hashes this machine's SerialComputation: its firmware table or, without
    // one, the fallback tools. Exceptions of the serial sources pass through
    // unchanged.
    std::string CalculateHwHash();

    // The serials of every structure of `type`, concatenated in table order;
    // T fixes where the SerialNumber field lies. One slot read by its record
    // type: SerialsFromTable reads all four through the slots' own offsets,
    // and HwHashCalculatorTest holds the two to the same answer.
    template <class T>
    std::string LoadSmBiosSerial(unsigned char type, const smbios::SmBios& table);

    // The four serials from an indexed table (processor only for 2.3 and later).
    HardwareSerials SerialsFromTable(const smbios::SmBios& table);

    // Chassis, system, baseboard, processor, joined without separators.
    static std::string DigestInput(const HardwareSerials& serials);
    // MD5 of the digest input, formatted "%02x" per byte.
    static std::string HashText(const HardwareSerials& serials);
};

}  // namespace tirsel::kvl::agent::driver::business
