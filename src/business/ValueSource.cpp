#include "business/ValueSource.h"

namespace tirsel::kvl::agent::driver::business {

SourceName NameOf(ValueSource source) {
    switch (source) {
        case ValueSource::Registry:
            return {"registry",
                    "the label was missing: from the registry (IOPlatformSerialNumber)"};
        case ValueSource::BrandString:
            return {"brand-string", "the label was missing: from machdep.cpu.brand_string"};
        case ValueSource::ReportLine:
            break;
    }
    return {"report", "its labelled line in system_profiler's report"};
}

}  // namespace tirsel::kvl::agent::driver::business
