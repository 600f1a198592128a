#include "business/SerialSource.h"

namespace tirsel::kvl::agent::driver::business {

SourceName NameOf(SerialSource source) {
    switch (source) {
        case SerialSource::RegistryTable:
            return {"registry", "registry table (AppleSMBIOS)"};
        case SerialSource::LegacyScan:
            return {"legacy-scan", "legacy memory scan"};
        case SerialSource::EfiScan:
            return {"efi-scan", "EFI memory scan"};
        case SerialSource::Fallback:
            break;
    }
    return {"fallback", "fallback tools (system_profiler, ioreg, I/O Kit registry)"};
}

}  // namespace tirsel::kvl::agent::driver::business
