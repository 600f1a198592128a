#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#ifdef __APPLE__
#include <sys/sysctl.h>  // sysctlbyname
#else
#include "platform/standin/SysctlStandIn.h"
#endif

namespace tirsel::kvl::agent::driver::platform {

// The string value of the sysctl `name` up to its first zero byte, when it
// takes at most `maxBytes` bytes; nothing when the name is unknown, the value
// is longer or the call fails.
inline std::optional<std::string> SysctlString(const char* name, std::size_t maxBytes) {
    std::string value(maxBytes + 1, '\0');  // and the zero byte that ends it
    std::size_t size = value.size();
    if (sysctlbyname(name, value.data(), &size, nullptr, 0) != 0) {
        return std::nullopt;
    }
    const std::size_t length = std::min(std::string_view(value.data(), size).find('\0'), size);
    if (length > maxBytes) {
        return std::nullopt;
    }
    value.resize(length);
    return value;
}

}  // namespace tirsel::kvl::agent::driver::platform
