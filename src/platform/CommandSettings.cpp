#include "platform/CommandSettings.h"

#include <atomic>

namespace tirsel::kvl::agent::driver::platform {

namespace {

// A test's replacement set; null in production.
std::atomic<const CommandSettings*> overridden{nullptr};

}  // namespace

const CommandSettings& CurrentCommandSettings() {
    // Built once and never destroyed, so a host thread running a command while
    // the process exits still finds it.
    static const CommandSettings* const fixed = new CommandSettings();
    const CommandSettings* settings = overridden.load(std::memory_order_acquire);
    return settings != nullptr ? *settings : *fixed;
}

const CommandSettings* ExchangeCommandSettings(const CommandSettings* settings) {
    return overridden.exchange(settings, std::memory_order_acq_rel);
}

}  // namespace tirsel::kvl::agent::driver::platform
