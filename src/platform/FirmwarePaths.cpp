#include "platform/FirmwarePaths.h"

#include <atomic>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

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
    boost::system::error_code error;
    const boost::filesystem::file_status status = boost::filesystem::status(path, error);
    return !error && status.type() != boost::filesystem::file_not_found;
}

const FirmwarePathSet* ExchangeFirmwarePaths(const FirmwarePathSet* paths) {
    return overridden.exchange(paths, std::memory_order_acq_rel);
}

}  // namespace tirsel::kvl::agent::driver::platform
