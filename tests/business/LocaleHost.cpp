// A C++ host that sets a locale of its own before it loads libgrellan, as an
// application may: std::locale::global(std::locale(argv[1])), which also sets
// the C library's locale ("default" keeps the "C" locale every program
// starts in). Then it loads the library by path (argv[2]), calls
// GetHardwareHash once and prints the result on a line.
#include <cstdio>
#include <cstring>
#include <locale>
#include <stdexcept>

#include "HostCall.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: locale_host default|LOCALE LIBRARY\n");
        return 2;
    }
    if (std::strcmp(argv[1], "default") != 0) {
        try {
            std::locale::global(std::locale(argv[1]));
        } catch (const std::runtime_error& e) {
            std::fprintf(stderr, "no locale %s: %s\n", argv[1], e.what());
            return 2;
        }
    }
    return grellan::testing::PrintHardwareHashOf(argv[2]);
}
