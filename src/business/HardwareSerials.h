#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::business {

// The four serials that enter the digest.
struct HardwareSerials {
    std::string processor;
    std::string chassis;
    std::string system;
    std::string baseboard;
};

}  // namespace tirsel::kvl::agent::driver::business
