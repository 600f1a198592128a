#include "platform/CommandSettings.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#ifdef __APPLE__
#include <crt_externs.h>  // a dynamic library reaches the environment through _NSGetEnviron
#else
extern char** environ;  // NOLINT(readability-redundant-declaration)
#endif

namespace tirsel::kvl::agent::driver::platform {

namespace {

// The host's variables a tool may see; everything else the host has set
// (GREP_OPTIONS, which macOS's grep puts in front of its own arguments,
// POSIXLY_CORRECT, CDPATH, the loader's and the shell's injection points, the
// host's own secrets) stays out. The locale and the user's identity and
// directories are what system_profiler, ioreg and grep read.
bool Allowed(std::string_view entry) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return false;
    }
    const std::string_view name = entry.substr(0, equals);
    static const char* const kNames[] = {"HOME", "TMPDIR", "USER", "LOGNAME", "LANG",
                                         // CoreFoundation's text encoding, set for every
                                         // login session on a Mac
                                         "__CF_USER_TEXT_ENCODING"};
    return name.substr(0, 3) == "LC_" ||
           std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const char* kept) { return name == kept; });
}

}  // namespace

std::vector<std::string> CommandSettings::ToolEnvironment(
    const std::vector<std::string>& host) const {
    std::vector<std::string> kept;
    kept.reserve(host.size() + 1);
    for (const std::string& entry : host) {
        if (Allowed(entry)) {
            kept.push_back(entry);
        }
    }
    kept.push_back("PATH=" + searchPath);
    return kept;
}

std::vector<std::string> CommandSettings::ToolEnvironment() const {
#ifdef __APPLE__
    char** const first = *_NSGetEnviron();
#else
    char** const first = environ;
#endif
    std::vector<std::string> kept;
    for (char** entry = first; entry != nullptr && *entry != nullptr; ++entry) {
        if (Allowed(*entry)) {
            kept.emplace_back(*entry);
        }
    }
    kept.push_back("PATH=" + searchPath);
    return kept;
}

}  // namespace tirsel::kvl::agent::driver::platform
