// The command settings of every test program and test build: the library's
// fixed set until a test installs another.
#include "CommandSettingsOverride.h"

#include <atomic>

namespace tirsel::kvl::agent::driver::platform {

namespace {

std::atomic<const CommandSettings*> overridden{nullptr};

}  // namespace

const CommandSettings& CurrentCommandSettings() {
    static const CommandSettings* const fixed = new CommandSettings();
    const CommandSettings* settings = overridden.load(std::memory_order_acquire);
    return settings != nullptr ? *settings : *fixed;
}

const CommandSettings* ExchangeCommandSettings(const CommandSettings* settings) {
    return overridden.exchange(settings, std::memory_order_acq_rel);
}

}  // namespace tirsel::kvl::agent::driver::platform
