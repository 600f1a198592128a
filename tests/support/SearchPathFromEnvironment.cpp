// Linked only into the test builds of the library and of grellaninspect that
// the process-level tests run, beside the test support library's settable
// settings: at load time, installs the directories in
// GRELLAN_TEST_SEARCH_PATH as the tool search path, so a probe run as its own
// process finds the fake tools (or, given an empty directory, no tools at
// all), and GRELLAN_TEST_TIME_LIMIT_MS, when set, as the bound of one
// command; a file named by GRELLAN_TEST_MEMORY_DEVICE, when set, as the
// memory device (no EFI markers; a blank image gives no table on any machine,
// as the registry is asked only where there is no memory device); and, when
// GRELLAN_TEST_WITHOUT_TABLE is set, no table source at all, so that a Mac
// with an SMBIOS table takes the fallback path. Off Apple it also fills the
// stand-ins from GRELLAN_TEST_PLATFORM_SERIAL (the IOPlatformSerialNumber of
// IOPlatformExpertDevice) and GRELLAN_TEST_CPU_BRAND (machdep.cpu.brand_string),
// the values that stand in for a report's missing labels, and from
// GRELLAN_TEST_BOARD_SERIAL (mlb-serial-number, as a Mac holds it: the serial
// and zero bytes after it). The shipped library
// links the fixed settings and has no such hook.
#include <chrono>
#include <cstdlib>
#include <string>

#include "CommandSettingsOverride.h"
#include "FirmwarePathsOverride.h"
#ifndef __APPLE__
#include "RegistryStandIn.h"
#include "SysctlStandIn.h"
#endif

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
        const bool withDevice = device != nullptr && *device != '\0';
        const char* withoutTable = std::getenv("GRELLAN_TEST_WITHOUT_TABLE");
        const bool tableOff = withoutTable != nullptr && *withoutTable != '\0';
        if (withDevice || tableOff) {
            static platform::FirmwarePathOverride paths =
                withDevice ? platform::MemoryDeviceAt(device) : platform::FirmwarePathOverride();
            paths.tableSources = !tableOff;
            platform::ExchangeFirmwarePaths(&paths);
        }
#ifndef __APPLE__
        if (const char* serial = std::getenv("GRELLAN_TEST_PLATFORM_SERIAL")) {
            platform::standin::SetNonDataProperty("IOPlatformExpertDevice",
                                                  "IOPlatformSerialNumber", serial);
        }
        if (const char* brand = std::getenv("GRELLAN_TEST_CPU_BRAND")) {
            platform::standin::SetSysctlString("machdep.cpu.brand_string", brand);
        }
        if (const char* board = std::getenv("GRELLAN_TEST_BOARD_SERIAL")) {
            platform::standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                                               std::string(board) + std::string(4, '\0'));
        }
#endif
    }
};

const InstallFromEnvironment install;

}  // namespace
