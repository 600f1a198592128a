#pragma once

#include <optional>
#include <string>

namespace tirsel::kvl::agent::driver::business {

// The values system_profiler's hardware report labels, read from sources
// that have no label and so no language. Stateless.
class LabelFreeValues {
public:
    LabelFreeValues() = delete;

    // The IOPlatformSerialNumber string of the IOPlatformExpertDevice
    // registry service: the report's "Serial Number (system)". As read;
    // nothing where there is no such string or it is longer than any serial.
    static std::optional<std::string> PlatformSerial();
    // machdep.cpu.brand_string, as read: where it names an Apple chip
    // (IsAppleChipName), the report's "Chip" on Apple silicon. The kernel
    // answers, so the x86_64 slice under Rosetta reads the same name
    // (spack/spack#30077 quotes "Apple M1 Pro" there), not the "VirtualApple"
    // its CPUID instruction reports.
    static std::optional<std::string> BrandString();

    // Whether `brand` is an Apple chip's name ("Apple M1", "Apple M2 Pro").
    // Not xnu's "Apple processor", which it makes up for a device tree
    // without "product-soc-name" (bsd/dev/arm64/sysctl.c, make_brand_string),
    // and not an Intel brand string: the report's processor name on Intel
    // ("Quad-Core Intel Core i7") is no brand string
    // ("Intel(R) Core(TM) i7-4870HQ CPU @ 2.50GHz").
    static bool IsAppleChipName(const std::string& brand);
};

}  // namespace tirsel::kvl::agent::driver::business
