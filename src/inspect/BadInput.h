#pragma once

#include <stdexcept>

namespace tirsel::kvl::agent::driver::inspect {

// An input grellaninspect cannot use: not a capture it reads, a capture cut
// or damaged on the way, or one it reads but not for the option given.
// what() says why; the tool reports it with exit status 2.
class BadInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tirsel::kvl::agent::driver::inspect
