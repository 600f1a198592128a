#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "grellan/grellan.h"

namespace grellan::testing {

// What GetHardwareHash writes into a buffer of `size` bytes, up to its first
// zero byte: the fingerprint, or "" for none.
inline std::string HardwareHash(int size = 33) {
    std::vector<char> buffer(static_cast<std::size_t>(size), 'x');
    GetHardwareHash(buffer.data(), size);
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

}  // namespace grellan::testing
