#pragma once

namespace tirsel::kvl::agent::driver::business {

// Where the fallback path took a value that system_profiler's report labels.
enum class ValueSource {
    ReportLine,   // the report's line with the English label, as always
    Registry,     // no such line: IOPlatformSerialNumber of IOPlatformExpertDevice
    BrandString,  // no such line: machdep.cpu.brand_string
};

}  // namespace tirsel::kvl::agent::driver::business
