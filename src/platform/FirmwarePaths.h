#pragma once

#include <sys/stat.h>

#include <string>

namespace tirsel::kvl::agent::driver::platform {

// Where firmware acquisition looks: the physical-memory device and the two
// files whose presence marks EFI firmware.
struct FirmwarePathSet {
    std::string memoryDevice = "/dev/mem";
    std::string efiSystab = "/sys/firmware/efi/systab";
    std::string procEfiSystab = "/proc/efi/systab";
};

// The paths acquisition uses, and whether one of them exists. What is linked
// decides which: the shipped library and grellaninspect link the fixed set
// above with the file system's answer (FirmwarePaths.cpp); the test programs
// link a set they can replace, with a presence test of their choosing
// (tests/support).
const FirmwarePathSet& CurrentFirmwarePaths();
bool PathExists(const std::string& path);
// Whether acquisition may read a table at all: always in the shipped builds; a
// test build can turn both sources off, so that a machine with a table (an
// Intel Mac's AppleSMBIOS service) takes the fallback path.
bool TableSourcesOn();

// Whether stat(2) succeeds for `path`: a missing path, a component that is
// not a directory, or any other failure (no search permission, a loop of
// links) counts as absent, as a status query that reports neither an error
// nor "not found" decides. Links are followed.
inline bool FileSystemPathExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

}  // namespace tirsel::kvl::agent::driver::platform
