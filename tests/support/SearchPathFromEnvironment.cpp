// Linked only into the test builds of the library and of grellaninspect that
// the process-level tests run: at load time, installs the directories in
// GRELLAN_TEST_SEARCH_PATH as the tool search path, so a probe run as its own
// process finds the fake tools. The shipped library has no such hook.
#include <cstdlib>

#include "platform/CommandSettings.h"

namespace {

namespace platform = tirsel::kvl::agent::driver::platform;

struct InstallFromEnvironment {
    InstallFromEnvironment() {
        const char* path = std::getenv("GRELLAN_TEST_SEARCH_PATH");
        if (path != nullptr && *path != '\0') {
            static platform::CommandSettings settings;
            settings.searchPath = path;
            platform::ExchangeCommandSettings(&settings);
        }
    }
};

const InstallFromEnvironment install;

}  // namespace
