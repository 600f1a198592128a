// Linked only into the test builds of the library and of grellaninspect in
// testpath/, beside the settable settings: at load time, installs what the
// environment names, so a process started by a test reaches what the test
// arranged instead of what the machine has.
// - GRELLAN_TEST_SEARCH_PATH: the tool search path (the fake tools, or an
//   empty directory for no tools at all);
// - GRELLAN_TEST_TIME_LIMIT_MS: with the search path, the bound of one command;
// - GRELLAN_TEST_MEMORY_DEVICE: an image file as the memory device, with no
//   EFI markers. A blank image gives no table on any machine: the registry is
//   asked only where there is no memory device.
// The shipped builds link the fixed settings and have no such hook.
#include <chrono>
#include <cstdlib>

#include "CommandSettingsOverride.h"
#include "FirmwarePathsOverride.h"

namespace {

namespace platform = tirsel::kvl::agent::driver::platform;

const char* Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

struct InstallFromEnvironment {
    InstallFromEnvironment() {
        if (const char* path = Variable("GRELLAN_TEST_SEARCH_PATH")) {
            static platform::CommandSettings settings;
            settings.searchPath = path;
            if (const char* limit = Variable("GRELLAN_TEST_TIME_LIMIT_MS")) {
                settings.timeLimit = std::chrono::milliseconds(std::atol(limit));
            }
            platform::ExchangeCommandSettings(&settings);
        }
        if (const char* device = Variable("GRELLAN_TEST_MEMORY_DEVICE")) {
            static const platform::FirmwarePathOverride paths = platform::MemoryDeviceAt(device);
            platform::ExchangeFirmwarePaths(&paths);
        }
    }
};

const InstallFromEnvironment install;

}  // namespace
