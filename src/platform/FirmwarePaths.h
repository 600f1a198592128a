#pragma once

#include <functional>
#include <string>

namespace tirsel::kvl::agent::driver::platform {

// Where firmware acquisition looks: the physical-memory device and the two
// files whose presence marks EFI firmware, with the test for presence.
struct FirmwarePathSet {
    std::string memoryDevice = "/dev/mem";
    std::string efiSystab = "/sys/firmware/efi/systab";
    std::string procEfiSystab = "/proc/efi/systab";
    // Empty: ask the file system (FileSystemPathExists).
    std::function<bool(const std::string&)> exists;
};

// The fixed paths above, unless a test has put an override in place.
const FirmwarePathSet& CurrentFirmwarePaths();

// Whether `path` exists, by the current set's test.
bool PathExists(const std::string& path);

// Whether stat(2) succeeds for `path` (following links); any failure, not
// only "no such file", counts as absent.
bool FileSystemPathExists(const std::string& path);

// Installs `paths` (or, for null, the fixed set) and returns what was in place.
// Tests only, through ScopedFirmwarePaths; not for use while other threads
// acquire tables.
const FirmwarePathSet* ExchangeFirmwarePaths(const FirmwarePathSet* paths);

}  // namespace tirsel::kvl::agent::driver::platform
