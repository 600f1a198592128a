#pragma once

#include <utility>

#include "platform/IOKit.h"

namespace tirsel::kvl::agent::driver::platform {

// Owns one I/O Kit object reference (a service or registry entry) and
// releases it with IOObjectRelease. A null object is held but not released.
class RegistryObject {
public:
    RegistryObject() = default;
    explicit RegistryObject(io_object_t object) : object(object) {}
    ~RegistryObject() { Reset(); }

    RegistryObject(RegistryObject&& other) noexcept
        : object(std::exchange(other.object, IO_OBJECT_NULL)) {}
    RegistryObject& operator=(RegistryObject&& other) noexcept {
        if (this != &other) {
            Reset();
            object = std::exchange(other.object, IO_OBJECT_NULL);
        }
        return *this;
    }
    RegistryObject(const RegistryObject&) = delete;
    RegistryObject& operator=(const RegistryObject&) = delete;

    io_object_t Get() const { return object; }
    explicit operator bool() const { return object != IO_OBJECT_NULL; }

    void Reset() {
        if (object != IO_OBJECT_NULL) {
            IOObjectRelease(object);
            object = IO_OBJECT_NULL;
        }
    }

private:
    io_object_t object = IO_OBJECT_NULL;
};

}  // namespace tirsel::kvl::agent::driver::platform
