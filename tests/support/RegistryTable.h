#pragma once

// Tables put into the registry stand-in (Linux only: include it from
// programs registered with NEEDS_STANDIN).

#include <cstdint>

#include "MemoryImage.h"
#include "RegistryStandIn.h"
#include "TableBuilder.h"

namespace grellan::testing {

// The AppleSMBIOS service with `entryPoint` as its "SMBIOS-EPS" property and
// `table` as its "SMBIOS" property.
inline void PutRegistryTable(const Bytes& entryPoint, const Bytes& table) {
    namespace standin = tirsel::kvl::agent::driver::platform::standin;
    standin::SetDataProperty("AppleSMBIOS", "SMBIOS-EPS", entryPoint);
    standin::SetDataProperty("AppleSMBIOS", "SMBIOS", table);
}

// The same, with a 2.1 entry point of version `major`.`minor` for the whole of `table`.
inline void PutRegistryTable(const Bytes& table, std::uint8_t major, std::uint8_t minor,
                             std::uint8_t revision = 0) {
    PutRegistryTable(
        EntryPoint21(major, minor, static_cast<std::uint16_t>(table.size()), 0, revision), table);
}

}  // namespace grellan::testing
