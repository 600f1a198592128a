#pragma once

#include <string>

#include "business/SerialSource.h"

namespace tirsel::kvl::agent::driver::business {

// Where the fallback path took a value that system_profiler's report labels.
enum class ValueSource {
    ReportLine,   // the report's line with the English label, as always
    Registry,     // no such line: IOPlatformSerialNumber of IOPlatformExpertDevice
    BrandString,  // no such line: machdep.cpu.brand_string
};

// `key` for grellaninspect's JSON, `description` for people ("the label was
// missing: from the registry (IOPlatformSerialNumber)").
SourceName NameOf(ValueSource source);

// One value of the report and where it came from.
struct ValueOrigin {
    std::string slot;   // the digest slot it enters: "chassis", "system", "processor"
    std::string value;  // what it is: "serial number", "name"
    ValueSource source = ValueSource::ReportLine;
};

}  // namespace tirsel::kvl::agent::driver::business
