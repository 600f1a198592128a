#pragma once

#include <utility>

#include "platform/FirmwarePaths.h"

namespace tirsel::kvl::agent::driver::platform {

// Replaces the firmware paths and the existence test for one scope; the
// previous set comes back on destruction. Install it before starting threads
// that acquire tables, and let it end after they have finished.
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
