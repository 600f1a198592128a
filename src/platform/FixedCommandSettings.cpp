// The fixed command settings of the shipped builds; test builds link
// tests/support/CommandSettingsOverride.cpp in place of this file.
#include "platform/CommandSettings.h"

namespace tirsel::kvl::agent::driver::platform {

const CommandSettings& CurrentCommandSettings() {
    // Built once and never destroyed, so a host thread running a command while
    // the process exits still finds it.
    static const CommandSettings* const fixed = new CommandSettings();
    return *fixed;
}

}  // namespace tirsel::kvl::agent::driver::platform
