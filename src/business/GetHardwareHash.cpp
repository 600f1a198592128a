// The library's one C entry point.
#include <algorithm>
#if defined(__GLIBC__)
#include <cxxabi.h>
#endif
#include <cstring>
#include <string>

#include "business/HwHashCalculator.h"
#include "grellan/grellan.h"

namespace {

#if defined(__GLIBC__)
// glibc's forced unwind carries no exception object, so the handler below
// binds its reference to null, as the C++ runtime intends; UBSan's null check
// would report that.
#define GRELLAN_FORCED_UNWIND_HANDLER __attribute__((no_sanitize("null")))
#else
#define GRELLAN_FORCED_UNWIND_HANDLER
#endif

// The fingerprint, or an empty string for "no fingerprint".
GRELLAN_FORCED_UNWIND_HANDLER std::string Fingerprint() {
    try {
        return tirsel::kvl::agent::driver::business::HwHashCalculator().CalculateHwHash();
    }
#if defined(__GLIBC__)
    catch (abi::__forced_unwind&) {
        // A cancelled host thread unwinds through here; swallowing that
        // unwind would abort the host. Its commands are killed and reaped by
        // their holders on the way.
        throw;
    }
#endif
    catch (...) {
        // No exception may reach the C caller.
        return std::string();
    }
}

}  // namespace

extern "C" GRELLAN_EXPORT void GetHardwareHash(char* dst, int len) {
    // Nothing fits in a buffer of no size; nothing is written at all.
    if (dst == nullptr || len <= 0) {
        return;
    }
    const std::string hash = Fingerprint();
    const auto size = static_cast<std::size_t>(len);
    // strncpy semantics with a count of len, then a terminator at
    // min(len - 1, copied): the fingerprint's first min(32, len - 1)
    // characters followed by zero bytes over the whole buffer.
    const std::size_t copied = std::min(hash.size(), size);
    std::memcpy(dst, hash.data(), copied);
    std::memset(dst + copied, 0, size - copied);
    dst[std::min(size - 1, copied)] = '\0';
}
