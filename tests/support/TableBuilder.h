#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace grellan::testing {

using Bytes = std::vector<std::uint8_t>;

// Builds synthetic SMBIOS structure tables, held bytes and snapshot texts.
class TableBuilder {
public:
    // A structure with `formatted` bytes after the 4-byte header (so Length is
    // 4 + formatted.size()) and the given string-set (none: two zero bytes).
    TableBuilder& Add(std::uint8_t type, std::uint16_t handle, const Bytes& formatted,
                      const std::vector<std::string>& strings = {});
    // A type 1, 2 or 3 structure (Length 8) or type 4 structure (Length 0x23)
    // whose SerialNumber names `serial` (string 1), or holds 0 when empty.
    TableBuilder& AddSerial(std::uint8_t type, std::uint16_t handle, const std::string& serial);
    // The end-of-table structure (type 127, Length 4, no strings).
    TableBuilder& AddEnd(std::uint16_t handle = 0xFFFF);
    // Bytes appended as they are.
    TableBuilder& AddRaw(const Bytes& bytes);

    const Bytes& Table() const { return table; }

    // Prefix (0, major, minor, revision, length LE32, 8 zero bytes) + table.
    // `statedLength` overrides the length written in the prefix.
    static Bytes HeldBytes(std::uint8_t major, std::uint8_t minor, const Bytes& table,
                           std::uint8_t revision = 0,
                           std::optional<std::uint32_t> statedLength = std::nullopt);
    // Standard padded Base64 of `bytes` (written here, not taken from the library).
    static std::string Base64(const Bytes& bytes);
    static std::string Snapshot(std::uint8_t major, std::uint8_t minor, const Bytes& table) {
        return Base64(HeldBytes(major, minor, table));
    }

private:
    Bytes table;
};

}  // namespace grellan::testing
