#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::probe {

// Loads libgrellan.dylib from the program's own directory, calls
// GetHardwareHash once and prints the fingerprint.
class ProbeProgram {
public:
    static constexpr const char* kLibraryName = "libgrellan.dylib";

    enum Status {
        kPrinted = 0,
        kLibraryNotLoaded = 1,
        kFunctionNotFound = 2,
        kNoFingerprint = 3,
    };

    // The library path for the program invoked as `argv0`: its directory part,
    // "/", the library name. Without any "/" in argv0 (started through the
    // command search path), the directory of the running executable itself.
    static std::string LibraryPath(const std::string& argv0);

    // `path` resolved against the working directory when it is relative;
    // unchanged when it is absolute or the working directory is unknown.
    static std::string AbsolutePath(const std::string& path);

    // Runs the whole program; returns the exit status.
    static int Run(const char* argv0);

private:
    // Directory of the running executable, empty when it cannot be found.
    static std::string ExecutableDirectory();
};

}  // namespace tirsel::kvl::agent::driver::probe
