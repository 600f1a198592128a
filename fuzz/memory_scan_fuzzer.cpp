// Arbitrary bytes placed in the legacy BIOS area of a 1 MiB image file that
// stands in for the memory device, scanned by the real open/mmap code; the
// table found (if any) is indexed and its serials extracted.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FirmwarePathsOverride.h"
#include "business/HwHashCalculator.h"
#include "smbios/SmBios.h"

namespace {

namespace platform = tirsel::kvl::agent::driver::platform;
using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::smbios::SmBios;

constexpr std::size_t kImageSize = 0x100000;
constexpr std::size_t kLegacyArea = 0xE0000;

// The image lives for the whole run; each input overwrites the legacy area.
struct Image {
    Image() {
        char pattern[] = "/tmp/grellan-memory-scan-XXXXXX";
        fd = mkstemp(pattern);
        if (fd < 0 || ftruncate(fd, kImageSize) != 0) {
            std::abort();
        }
        path = pattern;
        paths = platform::MemoryDeviceAt(path);
    }
    ~Image() {
        close(fd);
        unlink(path.c_str());
    }
    int fd = -1;
    std::string path;
    platform::FirmwarePathOverride paths;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Image image;
    static const platform::ScopedFirmwarePaths scoped(image.paths);
    // Only the bytes this input or the one before it touched are rewritten.
    static std::size_t previous = 0;
    const std::size_t used = std::min(size, kImageSize - kLegacyArea);
    std::vector<std::uint8_t> area(std::max(used, previous), 0);
    std::copy(data, data + used, area.begin());
    if (pwrite(image.fd, area.data(), area.size(), kLegacyArea) !=
        static_cast<ssize_t>(area.size())) {
        std::abort();
    }
    previous = used;
    const SmBios table;
    if (table.loaded) {
        HwHashCalculator calculator;
        (void)HwHashCalculator::HashText(calculator.SerialsFromTable(table));
    }
    return 0;
}
