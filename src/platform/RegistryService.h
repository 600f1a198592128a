#pragma once

#include "platform/CFReference.h"
#include "platform/IOKit.h"
#include "platform/MasterPort.h"
#include "platform/RegistryObject.h"

namespace tirsel::kvl::agent::driver::platform {

// The first registry service of `className`, or a null object. A master port
// that cannot be obtained finds no service. The port is given back as soon as
// the look-up is done; the service handle does not need it.
inline RegistryObject MatchingService(const char* className) {
    const MasterPort masterPort = MasterPort::Obtain();
    if (!masterPort) {
        return RegistryObject();
    }
    // The matching dictionary is consumed by the look-up.
    return RegistryObject(
        IOServiceGetMatchingService(masterPort.Get(), IOServiceMatching(className)));
}

// A new reference to the property `key` of `service`; null when it is missing.
inline CFReference<CFTypeRef> CopyProperty(const RegistryObject& service, CFStringRef key) {
    return CFReference<CFTypeRef>(
        IORegistryEntryCreateCFProperty(service.Get(), key, kCFAllocatorDefault, 0));
}

}  // namespace tirsel::kvl::agent::driver::platform
