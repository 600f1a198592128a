#pragma once

namespace tirsel::kvl::agent::driver::smbios {

// Where the serials of one computation came from: the source that gave the
// machine's table or, where none did, the fallback tools. Acquisition
// records a table source, or None; the computation records Fallback. Words
// for people and keys for JSON are grellaninspect's.
enum class SerialSource { None, RegistryTable, LegacyScan, EfiScan, Fallback };

}  // namespace tirsel::kvl::agent::driver::smbios
