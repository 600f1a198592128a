#pragma once

#include <string>

namespace grellan::testing {

// The shell command that runs the built grellaninspect with `args` (options,
// inputs, redirections) under `path` as its PATH.
inline std::string InspectCommand(const std::string& args,
                                  const std::string& path = "/usr/bin:/bin") {
    return "PATH='" + path + "' '" + std::string(GRELLAN_BUILD_DIR) + "/bin/grellaninspect' " +
           args;
}

}  // namespace grellan::testing
