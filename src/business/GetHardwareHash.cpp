// The library's one C entry point.
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "business/HwHashCalculator.h"
#include "grellan/grellan.h"

namespace {

// The fingerprint, or an empty string for "no fingerprint".
std::string Fingerprint() noexcept {
    try {
        return tirsel::kvl::agent::driver::business::HwHashCalculator().CalculateHwHash();
    } catch (...) {
        // No exception may reach the C caller.
        return std::string();
    }
}

// Writes the fingerprint into the caller's buffer; every object of the
// computation is gone when it returns.
void WriteFingerprint(char* dst, std::size_t size) noexcept {
    const std::string hash = Fingerprint();
    // strncpy semantics with a count of len, then a terminator at
    // min(len - 1, copied): the fingerprint's first min(32, len - 1)
    // characters followed by zero bytes over the whole buffer.
    const std::size_t copied = std::min(hash.size(), size);
    std::memcpy(dst, hash.data(), copied);
    std::memset(dst + copied, 0, size - copied);
    dst[std::min(size - 1, copied)] = '\0';
}

}  // namespace

extern "C" GRELLAN_EXPORT void GetHardwareHash(char* dst, int len) {
    // Nothing fits in a buffer of no size; nothing is written at all.
    if (dst == nullptr || len <= 0) {
        return;
    }
    // The first exception on a thread needs the C++ runtime's per-thread
    // record. For a library loaded with dlopen, glibc allocates that thread
    // storage on first use with malloc, and when that fails the dynamic
    // loader ends the process ("cannot allocate memory for thread-local
    // data: ABORT"). Asking for it here, before anything large is allocated,
    // makes a later std::bad_alloc an answer instead. macOS's libc++abi
    // (llvm-project, libcxxabi/src/cxa_exception_storage.cpp) keeps the
    // record one of two ways, and std::uncaught_exceptions reads it through
    // __cxa_get_globals_fast (cxa_exception.cpp). Before LLVM 19 the record
    // sits behind a pthread key: the touch only creates the key, and the
    // first throw allocates the record with calloc, else from a 512-byte
    // emergency heap the whole process shares (fallback_malloc.cpp), and
    // when both fail abort_message ends the process ("cannot allocate
    // __cxa_eh_globals"). From LLVM 19 (llvm-project#97591) it is a
    // thread_local variable: the touch makes dyld allocate it, with calloc
    // and without a null check (dyld, libdyld/ThreadLocalVariables.cpp,
    // instantiateVariable), so it happens here, before the call has
    // allocated anything. The exception objects themselves come from the
    // runtimes' emergency pools. The runtime declares the function pure: the
    // volatile keeps the call.
    const volatile int uncaught = std::uncaught_exceptions();
    (void)uncaught;

    // The call is not a cancellation point. A cancelled thread on macOS does
    // not unwind C++ frames (libpthread's _pthread_exit runs only cleanup
    // handlers and thread-specific-data destructors), so the call's
    // descriptors and processes would stay behind; on every platform the
    // call therefore runs to its end with cancellation held off, and a
    // cancel that arrived meanwhile acts as it returns. The worst delay is
    // the call's own time bound.
    int callerState = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &callerState);
    WriteFingerprint(dst, static_cast<std::size_t>(len));
    pthread_setcancelstate(callerState, nullptr);
    pthread_testcancel();
}
