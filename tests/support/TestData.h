#pragma once

#include <string>

namespace grellan::testing {

// A capture checked in under tests/data (its SOURCES.md names each one's
// origin). For test programs, which know the source tree.
inline std::string TestDataPath(const std::string& relative) {
    return std::string(GRELLAN_SOURCE_DIR) + "/tests/data/" + relative;
}

}  // namespace grellan::testing
