#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "TempDir.h"

namespace {

using grellan::testing::RunShell;

#ifdef __APPLE__
// Mach-O has no dynamic symbol table: what a dylib exports are its external
// defined symbols, each named with a leading underscore.
constexpr const char* kListExports = "nm -gU";
constexpr std::size_t kMachOUnderscore = 1;
#else
constexpr const char* kListExports = "nm -D --defined-only";
constexpr std::size_t kMachOUnderscore = 0;
#endif

// The shared library exports exactly the C entry and the two checksum
// helpers: no template instantiation, no stand-in, no Boost.
TEST(LibraryExports, ExactlyTheThreeInterfaceSymbols) {
    const std::string library = std::string(GRELLAN_BUILD_DIR) + "/bin/libgrellan.dylib";
    const auto result =
        RunShell(std::string(kListExports) + " '" + library + "' | awk '{ print $NF }'");
    ASSERT_EQ(result.status, 0);
    std::set<std::string> symbols;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(std::min(kMachOUnderscore, line.size()));
        // Sanitizer builds add their runtime's interceptor hooks; they are not ours.
        if (name.rfind("__asan", 0) == 0 || name.rfind("__ubsan", 0) == 0 ||
            name.rfind("__tsan", 0) == 0 || name.rfind("__sanitizer", 0) == 0) {
            continue;
        }
        symbols.insert(name);
    }
    // checksum(unsigned char const*, unsigned long) and
    // checksum8(unsigned char const*, unsigned char), mangled.
    const std::set<std::string> expected = {"GetHardwareHash", "_Z8checksumPKhm",
                                            "_Z9checksum8PKhh"};
    EXPECT_EQ(symbols, expected);
}

}  // namespace
