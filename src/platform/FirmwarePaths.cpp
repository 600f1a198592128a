#include "platform/FirmwarePaths.h"

#include <sys/stat.h>

#include <atomic>

namespace tirsel::kvl::agent::driver::platform {

namespace {

// A test's replacement set; null in production.
std::atomic<const FirmwarePathSet*> overridden{nullptr};

}  // namespace

const FirmwarePathSet& CurrentFirmwarePaths() {
    // Built once and never destroyed, so a host thread acquiring a table while
    // the process exits still finds it.
    static const FirmwarePathSet* const fixed = new FirmwarePathSet();
    const FirmwarePathSet* paths = overridden.load(std::memory_order_acquire);
    return paths != nullptr ? *paths : *fixed;
}

bool PathExists(const std::string& path) {
    const FirmwarePathSet& paths = CurrentFirmwarePaths();
    return paths.exists ? paths.exists(path) : FileSystemPathExists(path);
}

bool FileSystemPathExists(const std::string& path) {
    // A path exists exactly when stat(2) succeeds: a missing path, a
    // component that is not a directory, or any other failure (no search
    // permission, a loop of links) counts as absent, as a status query that
    // reports neither an error nor "not found" decides. Links are followed.
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

const FirmwarePathSet* ExchangeFirmwarePaths(const FirmwarePathSet* paths) {
    return overridden.exchange(paths, std::memory_order_acq_rel);
}

}  // namespace tirsel::kvl::agent::driver::platform
