#pragma once

#include "platform/IOKit.h"
#include "platform/UniqueHandle.h"

namespace tirsel::kvl::agent::driver::platform {

// What the reference to the I/O Kit master port that IOMasterPort hands its
// caller is to UniqueHandle: mach_port_deallocate gives it back. Without that
// every registry look-up would leak a port reference for the life of the host.
struct MasterPortTraits {
    using Handle = mach_port_t;
    static constexpr Handle kNull = MACH_PORT_NULL;
    static void Release(Handle port) { mach_port_deallocate(mach_task_self(), port); }
};

// The master port's reference, with the call that obtains it.
class MasterPort : public UniqueHandle<MasterPortTraits> {
public:
    using UniqueHandle::UniqueHandle;

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
};

}  // namespace tirsel::kvl::agent::driver::platform
