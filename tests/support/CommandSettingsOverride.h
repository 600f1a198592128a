#pragma once

#include <string>
#include <utility>

#include "platform/CommandSettings.h"

namespace tirsel::kvl::agent::driver::platform {

// Test programs link CommandSettingsOverride.cpp in place of the library's
// fixed settings: CurrentCommandSettings() gives the fixed set until a test
// installs another.

// Installs `settings` (or, for null, the fixed set) and returns what was in
// place. Through ScopedCommandSettings; not while other threads run commands.
const CommandSettings* ExchangeCommandSettings(const CommandSettings* settings);

// The fixed settings with `directory` searched first for tools (fake
// system_profiler, ioreg, dmidecode), then the fixed search path for grep,
// cat and the like.
inline CommandSettings WithToolDirectory(const std::string& directory) {
    CommandSettings settings;
    settings.searchPath = directory + ":" + settings.searchPath;
    return settings;
}

// Replaces the command settings for one scope; the previous set comes back on
// destruction. Install it before starting threads that run commands, and let
// it end after they have finished.
class ScopedCommandSettings {
public:
    explicit ScopedCommandSettings(CommandSettings replacement)
        : settings(std::move(replacement)), previous(ExchangeCommandSettings(&settings)) {}
    explicit ScopedCommandSettings(const std::string& toolDirectory)
        : ScopedCommandSettings(WithToolDirectory(toolDirectory)) {}
    ~ScopedCommandSettings() { ExchangeCommandSettings(previous); }

    ScopedCommandSettings(const ScopedCommandSettings&) = delete;
    ScopedCommandSettings& operator=(const ScopedCommandSettings&) = delete;

private:
    CommandSettings settings;
    const CommandSettings* previous;
};

}  // namespace tirsel::kvl::agent::driver::platform
