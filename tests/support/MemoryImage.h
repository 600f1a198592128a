#pragma once

// A regular file standing in for the physical-memory device, with SMBIOS 2.1
// entry points and tables written at chosen addresses.

#include <cstdint>
#include <cstring>
#include <string>

#include "TableBuilder.h"
#include "TempDir.h"

namespace grellan::testing {

// The 31-byte 2.1 entry point, both checksums correct unless told otherwise.
inline Bytes EntryPoint21(std::uint8_t major, std::uint8_t minor, std::uint16_t tableLength,
                          std::uint32_t tableAddress, std::uint8_t bcdRevision,
                          bool goodIntermediateChecksum = true, std::uint16_t structures = 1) {
    Bytes ep(0x1F, 0);
    std::memcpy(ep.data(), "_SM_", 4);
    ep[0x05] = 0x1F;
    ep[0x06] = major;
    ep[0x07] = minor;
    std::memcpy(ep.data() + 0x10, "_DMI_", 5);
    ep[0x16] = static_cast<std::uint8_t>(tableLength);
    ep[0x17] = static_cast<std::uint8_t>(tableLength >> 8);
    for (int i = 0; i < 4; ++i) {
        ep[0x18 + i] = static_cast<std::uint8_t>(tableAddress >> (8 * i));
    }
    // Number of structures: the library ignores it, dmidecode stops after it.
    ep[0x1C] = static_cast<std::uint8_t>(structures);
    ep[0x1D] = static_cast<std::uint8_t>(structures >> 8);
    ep[0x1E] = bcdRevision;
    std::uint8_t sum = 0;
    for (std::size_t i = 0x10; i < 0x1F; ++i) {
        sum = static_cast<std::uint8_t>(sum + ep[i]);
    }
    ep[0x15] = static_cast<std::uint8_t>(0x100 - sum + (goodIntermediateChecksum ? 0 : 1));
    sum = 0;
    for (std::uint8_t byte : ep) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    ep[0x04] = static_cast<std::uint8_t>(0x100 - sum);
    return ep;
}

// The 24-byte 64-bit (SMBIOS 3) entry point.
inline Bytes EntryPoint3(std::uint8_t major, std::uint8_t minor, std::uint32_t maxLength,
                         std::uint64_t address) {
    Bytes ep(0x18, 0);
    std::memcpy(ep.data(), "_SM3_", 5);
    ep[6] = 0x18;
    ep[7] = major;
    ep[8] = minor;
    for (int i = 0; i < 4; ++i) {
        ep[0x0C + i] = static_cast<std::uint8_t>(maxLength >> (8 * i));
    }
    for (int i = 0; i < 8; ++i) {
        ep[0x10 + i] = static_cast<std::uint8_t>(address >> (8 * i));
    }
    return ep;
}

class MemoryImage {
public:
    explicit MemoryImage(std::size_t size = 0x100000) : image(size, '\0') {}

    MemoryImage& Put(std::uint64_t address, const Bytes& bytes) {
        std::memcpy(&image[address], bytes.data(), bytes.size());
        return *this;
    }
    MemoryImage& Put(std::uint64_t address, const std::string& text) {
        return Put(address, Bytes(text.begin(), text.end()));
    }
    // An entry point at `address` naming `table`, which is written at `tableAddress`.
    MemoryImage& PutTable(std::uint64_t address, std::uint8_t major, std::uint8_t minor,
                          std::uint32_t tableAddress, const Bytes& table,
                          std::uint8_t bcdRevision = 0) {
        Put(tableAddress, table);
        return Put(address, EntryPoint21(major, minor, static_cast<std::uint16_t>(table.size()),
                                         tableAddress, bcdRevision));
    }

    // Writes the image into `dir` and returns its path.
    std::string Save(const TempDir& dir, const std::string& name = "mem") const {
        return dir.Write(name, image);
    }

private:
    std::string image;
};

}  // namespace grellan::testing
