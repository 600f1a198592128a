#pragma once

#include <utility>

#include "platform/IOKit.h"

namespace tirsel::kvl::agent::driver::platform {

// Owns the one reference to the I/O Kit master port that IOMasterPort hands
// its caller, and gives it back with mach_port_deallocate. Without that every
// registry look-up would leak a port reference for the life of the host.
class MasterPort {
public:
    // Asks IOMasterPort for the port; the result holds no port when that fails.
    static MasterPort Obtain() {
        mach_port_t port = MACH_PORT_NULL;
        // macOS 12 renamed the call IOMainPort and deprecated the old name, but
        // the library still runs on macOS 11, which only has IOMasterPort; both
        // names reach the same function, so the warning says nothing here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        const kern_return_t status = IOMasterPort(MACH_PORT_NULL, &port);
#pragma GCC diagnostic pop
        return MasterPort(status == KERN_SUCCESS ? port : MACH_PORT_NULL);
    }

    MasterPort() = default;
    ~MasterPort() {
        Reset();
    }

    MasterPort(MasterPort&& other) noexcept : port(std::exchange(other.port, MACH_PORT_NULL)) {}
    MasterPort& operator=(MasterPort&& other) noexcept {
        if (this != &other) {
            Reset();
            port = std::exchange(other.port, MACH_PORT_NULL);
        }
        return *this;
    }
    MasterPort(const MasterPort&) = delete;
    MasterPort& operator=(const MasterPort&) = delete;

    mach_port_t Get() const {
        return port;
    }
    explicit operator bool() const {
        return port != MACH_PORT_NULL;
    }

    void Reset() {
        if (port != MACH_PORT_NULL) {
            mach_port_deallocate(mach_task_self(), port);
            port = MACH_PORT_NULL;
        }
    }

private:
    explicit MasterPort(mach_port_t port) : port(port) {}

    mach_port_t port = MACH_PORT_NULL;
};

}  // namespace tirsel::kvl::agent::driver::platform
