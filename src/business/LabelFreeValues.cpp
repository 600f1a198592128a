#include "business/LabelFreeValues.h"

#include <cstddef>

#include "platform/RegistryService.h"
#include "platform/SystemControl.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

// Far beyond any serial or chip name; a longer value is no such thing.
constexpr std::size_t kMaxValueBytes = 256;

}  // namespace

std::optional<std::string> LabelFreeValues::PlatformSerial() {
    const platform::RegistryObject service = platform::MatchingService("IOPlatformExpertDevice");
    if (!service) {
        return std::nullopt;
    }
    const auto property = platform::CopyProperty(service, CFSTR("IOPlatformSerialNumber"));
    return platform::StringText(property.Get(), kMaxValueBytes);
}

std::optional<std::string> LabelFreeValues::BrandString() {
    return platform::SysctlString("machdep.cpu.brand_string", kMaxValueBytes);
}

bool LabelFreeValues::IsAppleChipName(const std::string& brand) {
    const std::string prefix = "Apple ";
    return brand.size() > prefix.size() && brand.compare(0, prefix.size(), prefix) == 0 &&
           brand != "Apple processor";
}

}  // namespace tirsel::kvl::agent::driver::business
