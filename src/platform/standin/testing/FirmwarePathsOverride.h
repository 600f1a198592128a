#pragma once

#include <string>
#include <utility>

#include "platform/FirmwarePaths.h"

namespace tirsel::kvl::agent::driver::platform {

// Replaces the firmware paths and the existence test for one scope; the
// previous set comes back on destruction. Install it before starting threads
// that acquire tables, and let it end after they have finished.
// No memory device: tables come from the registry (the stand-in in tests).
inline FirmwarePathSet WithoutMemoryDevice() {
    FirmwarePathSet paths;
    paths.exists = [](const std::string&) { return false; };
    return paths;
}

// `device` (an image file, say) serves as the memory device; no EFI markers exist.
inline FirmwarePathSet MemoryDeviceAt(const std::string& device) {
    FirmwarePathSet paths;
    paths.memoryDevice = device;
    paths.exists = [device](const std::string& path) { return path == device; };
    return paths;
}

class ScopedFirmwarePaths {
public:
    explicit ScopedFirmwarePaths(FirmwarePathSet replacement)
        : paths(std::move(replacement)), previous(ExchangeFirmwarePaths(&paths)) {}
    ~ScopedFirmwarePaths() { ExchangeFirmwarePaths(previous); }

    ScopedFirmwarePaths(const ScopedFirmwarePaths&) = delete;
    ScopedFirmwarePaths& operator=(const ScopedFirmwarePaths&) = delete;

private:
    FirmwarePathSet paths;
    const FirmwarePathSet* previous;
};

}  // namespace tirsel::kvl::agent::driver::platform
