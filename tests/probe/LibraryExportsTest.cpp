#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "TempDir.h"

namespace {

using grellan::testing::RunShell;

// The shared library's dynamic symbol table holds exactly the C entry and the
// two checksum helpers: no template instantiation, no stand-in, no Boost.
TEST(LibraryExports, ExactlyTheThreeInterfaceSymbols) {
    const std::string library = std::string(GRELLAN_BUILD_DIR) + "/bin/libgrellan.dylib";
    const auto result = RunShell("nm -D --defined-only --demangle '" + library +
                                 "' | awk '{ $1=\"\"; $2=\"\"; "
                                 "sub(/^  /, \"\"); print }'");
    ASSERT_EQ(result.status, 0);
    std::set<std::string> symbols;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        // Sanitizer builds add their runtime's interceptor hooks; they are not ours.
        if (line.rfind("__asan", 0) == 0 || line.rfind("__ubsan", 0) == 0 ||
            line.rfind("__tsan", 0) == 0 || line.rfind("__sanitizer", 0) == 0) {
            continue;
        }
        symbols.insert(line);
    }
    const std::set<std::string> expected = {
        "GetHardwareHash",
        "checksum(unsigned char const*, unsigned long)",
        "checksum8(unsigned char const*, unsigned char)",
    };
    EXPECT_EQ(symbols, expected);
}

}  // namespace
