// The fixed firmware paths of the shipped builds; test builds link
// tests/support/FirmwarePathsOverride.cpp in place of this file.
#include "platform/FirmwarePaths.h"

namespace tirsel::kvl::agent::driver::platform {

const FirmwarePathSet& CurrentFirmwarePaths() {
    // Built once and never destroyed, so a host thread acquiring a table while
    // the process exits still finds it.
    static const FirmwarePathSet* const fixed = new FirmwarePathSet();
    return *fixed;
}

bool PathExists(const std::string& path) {
    return FileSystemPathExists(path);
}

bool TableSourcesOn() {
    return true;
}

}  // namespace tirsel::kvl::agent::driver::platform
