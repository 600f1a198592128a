#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::business {

// Where the four serials of one computation came from.
enum class SerialSource { SmBiosTable, Fallback };

// The four serials that enter the digest, and their source.
struct HardwareSerials {
    SerialSource source = SerialSource::Fallback;
    std::string processor;
    std::string chassis;
    std::string system;
    std::string baseboard;
    // From the fallback tools: false when they gave neither a processor name
    // nor chip identifier bytes, so that the processor serial holds nothing of
    // the machine.
    bool processorIdentified = true;
};

}  // namespace tirsel::kvl::agent::driver::business
