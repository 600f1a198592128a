#include "probe/ProbeProgram.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <iostream>
#include <vector>

#include <unistd.h>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "grellan/grellan.h"

namespace tirsel::kvl::agent::driver::probe {

std::string ProbeProgram::ExecutableDirectory() {
    std::string path;
#if defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
        return std::string();
    }
    path = buffer.data();
#else
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    const ssize_t size = readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (size <= 0) {
        return std::string();
    }
    path.assign(buffer.data(), static_cast<std::size_t>(size));
#endif
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ProbeProgram::LibraryPath(const std::string& argv0) {
    const std::size_t slash = argv0.rfind('/');
    if (slash == std::string::npos) {
        return ExecutableDirectory() + "/" + kLibraryName;
    }
    return argv0.substr(0, slash) + "/" + kLibraryName;
}

std::string ProbeProgram::AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return path;  // the loader is left to resolve it
    }
    std::string directory = buffer.data();
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    return directory + path;
}

int ProbeProgram::Run(const char* argv0) {
    const std::string path = LibraryPath(argv0 != nullptr ? argv0 : "");
    // dyld refuses a relative path in a program signed with the hardened
    // runtime ("relative path not allowed in hardened program": Loader.cpp,
    // isFileRelativePath), so the loader is given the path made absolute;
    // the lines printed keep the path as the invocation gives it.
    void* library = dlopen(AbsolutePath(path).c_str(), RTLD_LAZY);
    if (library == nullptr) {
        // The loader's own reason (a missing file, a missing dependency, a
        // wrong architecture) goes to standard error; the line on standard
        // output stays the one hosts and scripts match.
        const char* reason = dlerror();
        std::cout << "unable to load " << path << " Library!" << std::endl;
        std::cerr << "grellanprobe: " << (reason != nullptr ? reason : "unknown loader error")
                  << std::endl;
        return kLibraryNotLoaded;
    }
    auto function = reinterpret_cast<GetHardwareHashFn>(dlsym(library, "GetHardwareHash"));
    if (function == nullptr) {
        const char* reason = dlerror();
        std::cout << "unable to load " << path << " GetHardwareHash function!" << std::endl;
        if (reason != nullptr) {
            std::cerr << "grellanprobe: " << reason << std::endl;
        }
        dlclose(library);
        return kFunctionNotFound;
    }
    char buffer[0x100];
    function(buffer, sizeof buffer);
    // An empty string is the library's way of saying it found no fingerprint.
    if (buffer[0] == '\0') {
        std::cout << "unable to compute hardware hash!" << std::endl;
        return kNoFingerprint;
    }
    std::cout << buffer << "\n";
    // The library stays loaded until the process ends.
    return kPrinted;
}

}  // namespace tirsel::kvl::agent::driver::probe
