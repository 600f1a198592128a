// The firmware paths of every test program and test build: the library's
// fixed set and the file system's answer until a test installs another.
#include "FirmwarePathsOverride.h"

#include <atomic>

namespace tirsel::kvl::agent::driver::platform {

namespace {

std::atomic<const FirmwarePathOverride*> overridden{nullptr};

}  // namespace

const FirmwarePathSet& CurrentFirmwarePaths() {
    static const FirmwarePathSet* const fixed = new FirmwarePathSet();
    const FirmwarePathOverride* paths = overridden.load(std::memory_order_acquire);
    return paths != nullptr ? *paths : *fixed;
}

bool PathExists(const std::string& path) {
    const FirmwarePathOverride* paths = overridden.load(std::memory_order_acquire);
    return paths != nullptr && paths->exists ? paths->exists(path) : FileSystemPathExists(path);
}

bool TableSourcesOn() {
    const FirmwarePathOverride* paths = overridden.load(std::memory_order_acquire);
    return paths == nullptr || paths->tableSources;
}

const FirmwarePathOverride* ExchangeFirmwarePaths(const FirmwarePathOverride* paths) {
    return overridden.exchange(paths, std::memory_order_acq_rel);
}

}  // namespace tirsel::kvl::agent::driver::platform
