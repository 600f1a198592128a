#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/FirmwarePaths.h"

namespace tirsel::kvl::agent::driver::platform {

// Test programs link FirmwarePathsOverride.cpp in place of the library's
// fixed paths: the fixed set and the file system's answer until a test
// installs a FirmwarePathOverride.

// A path set with the presence test a test may replace. A plain
// FirmwarePathSet converts, keeping the file system's answer; keep the
// result of WithoutMemoryDevice or MemoryDeviceAt in this type, not in a
// FirmwarePathSet, which would drop its presence test.
struct FirmwarePathOverride : FirmwarePathSet {
    FirmwarePathOverride() = default;
    FirmwarePathOverride(FirmwarePathSet paths)  // NOLINT(google-explicit-constructor)
        : FirmwarePathSet(std::move(paths)) {}
    // Empty: ask the file system (FileSystemPathExists).
    std::function<bool(const std::string&)> exists;
    // false: acquisition reads no table from any source (TableSourcesOn).
    bool tableSources = true;
};

// Installs `paths` (or, for null, the fixed set) and returns what was in
// place. Through ScopedFirmwarePaths; not while other threads acquire tables.
const FirmwarePathOverride* ExchangeFirmwarePaths(const FirmwarePathOverride* paths);

// No memory device: tables come from the registry (the stand-in in tests).
inline FirmwarePathOverride WithoutMemoryDevice() {
    FirmwarePathOverride paths;
    paths.exists = [](const std::string&) { return false; };
    return paths;
}

// `device` (an image file, say) serves as the memory device; no EFI markers exist.
inline FirmwarePathOverride MemoryDeviceAt(const std::string& device) {
    FirmwarePathOverride paths;
    paths.memoryDevice = device;
    paths.exists = [device](const std::string& path) { return path == device; };
    return paths;
}

// No table from either source, even where the machine has one (an Intel
// Mac's AppleSMBIOS service): the fallback path on every machine.
inline FirmwarePathOverride WithoutTableSources() {
    FirmwarePathOverride paths;
    paths.tableSources = false;
    return paths;
}

// Replaces the firmware paths and the presence test for one scope; the
// previous set comes back on destruction. Install it before starting threads
// that acquire tables, and let it end after they have finished.
class ScopedFirmwarePaths {
public:
    explicit ScopedFirmwarePaths(FirmwarePathOverride replacement)
        : paths(std::move(replacement)), previous(ExchangeFirmwarePaths(&paths)) {}
    ~ScopedFirmwarePaths() { ExchangeFirmwarePaths(previous); }

    ScopedFirmwarePaths(const ScopedFirmwarePaths&) = delete;
    ScopedFirmwarePaths& operator=(const ScopedFirmwarePaths&) = delete;

private:
    FirmwarePathOverride paths;
    const FirmwarePathOverride* previous;
};

}  // namespace tirsel::kvl::agent::driver::platform
