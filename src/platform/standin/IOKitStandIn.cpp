#include "platform/standin/IOKitStandIn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "testing/RegistryStandIn.h"

namespace registry = tirsel::kvl::agent::driver::platform::standin;

namespace {

constexpr CFTypeID kStringTypeID = 7;
constexpr CFTypeID kDictionaryTypeID = 18;
constexpr CFTypeID kDataTypeID = 20;

constexpr mach_port_t kMasterPort = 1;
constexpr mach_port_t kTaskSelfPort = 0x103;

// Every CoreFoundation object of the stand-in. The opaque reference types of
// the header all point at one of these.
struct StandInCFObject {
    CFTypeID type = 0;
    std::string text;          // string objects; the class name of a matching dictionary
    std::vector<UInt8> bytes;  // data objects
};

const StandInCFObject* Object(CFTypeRef cf) {
    return static_cast<const StandInCFObject*>(cf);
}

template <class Ref>
Ref Handout(std::unique_ptr<StandInCFObject> object) {
    StandInCFObject* raw = object.release();
    registry::detail::TrackObject(raw);
    return reinterpret_cast<Ref>(raw);
}

// The immortal strings made by CFSTR, one per distinct text.
struct ConstantStrings {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<StandInCFObject>> byText;
    std::unordered_set<const void*> objects;
};

ConstantStrings& TheConstantStrings() {
    static ConstantStrings strings;
    return strings;
}

bool IsConstantString(CFTypeRef cf) {
    ConstantStrings& strings = TheConstantStrings();
    std::lock_guard lock(strings.mutex);
    return strings.objects.count(cf) != 0;
}

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;

kern_return_t IOMasterPort(mach_port_t /*bootstrapPort*/, mach_port_t* masterPort) {
    if (masterPort == nullptr) {
        return KERN_INVALID_ARGUMENT;
    }
    // Like the real call, every success adds a reference to the same port name.
    registry::detail::AcquirePort(kMasterPort);
    *masterPort = kMasterPort;
    return KERN_SUCCESS;
}

mach_port_t mach_task_self(void) {
    return kTaskSelfPort;
}

kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name) {
    if (task != kTaskSelfPort) {
        return KERN_INVALID_ARGUMENT;
    }
    if (name == MACH_PORT_NULL) {
        return KERN_SUCCESS;  // the real call accepts the null name and does nothing
    }
    return registry::detail::ReleasePort(name) ? KERN_SUCCESS : KERN_INVALID_RIGHT;
}

CFMutableDictionaryRef IOServiceMatching(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    auto dictionary = std::make_unique<StandInCFObject>();
    dictionary->type = kDictionaryTypeID;
    dictionary->text = name;
    return Handout<CFMutableDictionaryRef>(std::move(dictionary));
}

io_service_t IOServiceGetMatchingService(mach_port_t /*masterPort*/, CFDictionaryRef matching) {
    if (matching == nullptr) {
        return IO_OBJECT_NULL;
    }
    const std::string className = Object(matching)->text;
    CFRelease(matching);  // the call consumes one reference to the dictionary
    return registry::detail::OpenService(className);
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key,
                                          CFAllocatorRef /*allocator*/, IOOptionBits /*options*/) {
    if (key == nullptr) {
        return nullptr;
    }
    const std::optional<std::string> className = registry::detail::ServiceClass(entry);
    if (!className) {
        return nullptr;
    }
    const std::optional<registry::detail::Property> property =
        registry::detail::FindProperty(*className, Object(key)->text);
    if (!property) {
        return nullptr;
    }
    auto object = std::make_unique<StandInCFObject>();
    if (property->isData) {
        object->type = kDataTypeID;
        object->bytes = property->bytes;
    } else {
        object->type = kStringTypeID;
        object->text = property->text;
    }
    return Handout<CFTypeRef>(std::move(object));
}

kern_return_t IOObjectRelease(io_object_t object) {
    if (object == IO_OBJECT_NULL) {
        return KERN_INVALID_ARGUMENT;
    }
    return registry::detail::CloseService(object) ? KERN_SUCCESS : KERN_INVALID_ARGUMENT;
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
    return Object(theData)->bytes.data();
}

CFIndex CFDataGetLength(CFDataRef theData) {
    return static_cast<CFIndex>(Object(theData)->bytes.size());
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return Object(cf)->type;
}

CFTypeID CFDataGetTypeID(void) {
    return kDataTypeID;
}

CFTypeID CFStringGetTypeID(void) {
    return kStringTypeID;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    // String objects hold their text as UTF-8 bytes.
    const std::string& text = Object(theString)->text;
    if (encoding != kCFStringEncodingUTF8 || bufferSize <= 0 ||
        text.size() >= static_cast<std::size_t>(bufferSize)) {
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 1;
}

void CFRelease(CFTypeRef cf) {
    // The real CFRelease crashes on NULL; an unguarded release must not pass here.
    if (cf == nullptr) {
        std::fputs("CFRelease(NULL): releasing a null reference crashes on macOS\n", stderr);
        std::abort();
    }
    if (IsConstantString(cf)) {
        return;
    }
    // Only an outstanding object is touched: a second release is counted, not freed.
    if (registry::detail::UntrackObject(cf)) {
        delete Object(cf);
    }
}

CFStringRef StandInMakeConstantString(const char* cStr) {
    ConstantStrings& strings = TheConstantStrings();
    std::lock_guard lock(strings.mutex);
    std::unique_ptr<StandInCFObject>& slot = strings.byText[cStr];
    if (!slot) {
        slot = std::make_unique<StandInCFObject>();
        slot->type = kStringTypeID;
        slot->text = cStr;
        strings.objects.insert(slot.get());
    }
    return reinterpret_cast<CFStringRef>(slot.get());
}

}  // extern "C"
