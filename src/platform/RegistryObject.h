#pragma once

#include "platform/IOKit.h"
#include "platform/UniqueHandle.h"

namespace tirsel::kvl::agent::driver::platform {

// What an I/O Kit object reference (a service or registry entry) is to
// UniqueHandle: IOObjectRelease gives it back.
struct RegistryObjectTraits {
    using Handle = io_object_t;
    static constexpr Handle kNull = IO_OBJECT_NULL;
    static void Release(Handle object) { IOObjectRelease(object); }
};

using RegistryObject = UniqueHandle<RegistryObjectTraits>;

}  // namespace tirsel::kvl::agent::driver::platform
