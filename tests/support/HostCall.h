#pragma once

// What the test hosts do once they have set themselves up: load libgrellan
// by path, call GetHardwareHash once and print the answer on a line. Header
// only, so a host program needs nothing of the test support library.

#include <dlfcn.h>

#include <cstdio>

#include "grellan/grellan.h"

namespace grellan::testing {

// The library's GetHardwareHash; null, with the loader's reason on standard
// error, when the library or its function could not be loaded.
inline GetHardwareHashFn LoadHardwareHash(const char* library) {
    void* loaded = dlopen(library, RTLD_NOW);
    if (loaded == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return nullptr;
    }
    auto* getHash = reinterpret_cast<GetHardwareHashFn>(dlsym(loaded, "GetHardwareHash"));
    if (getHash == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
    }
    return getHash;
}

// 0 when the answer was printed; 1 when the library or its function could not
// be loaded (the loader's reason on standard error).
inline int PrintHardwareHashOf(const char* library) {
    const GetHardwareHashFn getHash = LoadHardwareHash(library);
    if (getHash == nullptr) {
        return 1;
    }
    char hash[33];
    getHash(hash, sizeof hash);
    std::printf("%s\n", hash);
    return 0;
}

}  // namespace grellan::testing
