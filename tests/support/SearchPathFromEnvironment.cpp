// Linked only into the test builds of the library and of grellaninspect that
// the process-level tests run: at load time, installs the directories in
// GRELLAN_TEST_SEARCH_PATH as the tool search path, so a probe run as its own
// process finds the fake tools, and GRELLAN_TEST_TIME_LIMIT_MS, when set, as
// the bound of one command, and a file named by GRELLAN_TEST_MEMORY_DEVICE,
// when set, as the memory device (no EFI markers). The shipped library has no
// such hook.
#include <chrono>
#include <cstdlib>

#include "FirmwarePathsOverride.h"
#include "platform/CommandSettings.h"

namespace {

namespace platform = tirsel::kvl::agent::driver::platform;

struct InstallFromEnvironment {
    InstallFromEnvironment() {
        const char* path = std::getenv("GRELLAN_TEST_SEARCH_PATH");
        if (path != nullptr && *path != '\0') {
            static platform::CommandSettings settings;
            settings.searchPath = path;
            const char* limit = std::getenv("GRELLAN_TEST_TIME_LIMIT_MS");
            if (limit != nullptr && *limit != '\0') {
                settings.timeLimit = std::chrono::milliseconds(std::atol(limit));
            }
            platform::ExchangeCommandSettings(&settings);
        }
        const char* device = std::getenv("GRELLAN_TEST_MEMORY_DEVICE");
        if (device != nullptr && *device != '\0') {
            static const platform::FirmwarePathSet paths = platform::MemoryDeviceAt(device);
            platform::ExchangeFirmwarePaths(&paths);
        }
    }
};

const InstallFromEnvironment install;

}  // namespace
