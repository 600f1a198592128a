#pragma once

#include <cstdint>
#include <string>

#include "platform/CommandResult.h"

namespace tirsel::kvl::agent::driver::smbios {

// One thing acquisition tried or found, as values: a kind and the fields it
// uses (the others keep their defaults). grellaninspect words them; the
// library's own call keeps them and formats none.
struct AcquisitionStep {
    enum class Kind {
        SourcesOff,          // a test build turned every table source off
        DeviceAbsent,        // `path` does not exist: the registry is asked
        DeviceExists,        // `path` exists: physical memory is scanned
        NoService,           // no AppleSMBIOS service
        NoProperty,          // the service has no property `property`
        NotData,             // the property `property` is not a data object
        EntryPointShort,     // SMBIOS-EPS holds `length` bytes, fewer than `stated`
        TableShort,          // SMBIOS holds `length` bytes, fewer than the `stated`
                             // the entry point states: what there is is kept
        RegistryTable,       // the registry gave SMBIOS `major`.`minor`, a table of `length` bytes
        DeviceCannotOpen,    // `path` cannot be opened
        DeviceUnusable,      // `path` is neither a character device nor a regular file
        DmidecodeFailed,     // the EFI scan's dmidecode ended as `command` says
        DmidecodeNoHex,      // dmidecode printed no "0x"
        DmidecodeNoAddress,  // no address follows "0x" in dmidecode's output `path`
        CannotMapProbe,      // the scan cannot map the probe at `address`, and stops
        EmptyTable,          // the entry point at `address` states a table of 0 bytes
        CannotMapTable,      // the entry point at `address` has its table at
                             // `tableAddress`, which cannot be mapped
        EntryPointAccepted,  // the entry point at `address`: SMBIOS `major`.`minor`,
                             // a table of `length` bytes at `tableAddress`
        NoEntryPoint,        // no entry point from `address` to `last` (EFI scan:
                             // within its span from `address`)
    };

    Kind kind = Kind::SourcesOff;
    // The memory device; for DmidecodeNoAddress, dmidecode's output.
    std::string path;
    // The registry property (static text).
    const char* property = "";
    // Which memory scan: the EFI scan from dmidecode's address, else the legacy one.
    bool efiScan = false;
    std::uint64_t address = 0;
    std::uint64_t tableAddress = 0;
    std::uint64_t last = 0;
    std::uint64_t length = 0;
    std::uint64_t stated = 0;
    unsigned major = 0;
    unsigned minor = 0;
    // How dmidecode ended (DmidecodeFailed).
    platform::CommandEnding command;
};

}  // namespace tirsel::kvl::agent::driver::smbios
