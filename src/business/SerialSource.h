#pragma once

namespace tirsel::kvl::agent::driver::business {

// Where the serials of one computation came from.
enum class SerialSource { RegistryTable, LegacyScan, EfiScan, Fallback };

// How a source is named: `key` for machines (grellaninspect's JSON),
// `description` for people.
struct SourceName {
    const char* key;
    const char* description;
};

SourceName NameOf(SerialSource source);

}  // namespace tirsel::kvl::agent::driver::business
