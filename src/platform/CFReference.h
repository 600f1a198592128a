#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "platform/IOKit.h"
#include "platform/UniqueHandle.h"

namespace tirsel::kvl::agent::driver::platform {

// What a CoreFoundation reference from a Create or Copy call is to
// UniqueHandle: CFRelease gives it back (never a null one: CFRelease(NULL)
// crashes).
template <class Ref>
struct CFReferenceTraits {
    using Handle = Ref;
    static constexpr Handle kNull = nullptr;
    static void Release(Handle ref) { CFRelease(ref); }
};

template <class Ref>
using CFReference = UniqueHandle<CFReferenceTraits<Ref>>;

// The bytes of a property object, borrowed from it.
struct DataView {
    const unsigned char* bytes = nullptr;
    std::size_t length = 0;
};

// The bytes of `object` when it is a data object; nothing for any other
// object or a null reference.
inline std::optional<DataView> DataBytes(CFTypeRef object) {
    if (object == nullptr || CFGetTypeID(object) != CFDataGetTypeID()) {
        return std::nullopt;
    }
    const auto data = static_cast<CFDataRef>(object);
    const CFIndex length = CFDataGetLength(data);
    DataView view;
    view.bytes = CFDataGetBytePtr(data);
    view.length = length > 0 ? static_cast<std::size_t>(length) : 0;
    return view;
}

// The text of `object` as UTF-8, up to its first zero byte, when it is a
// string object whose text takes at most `maxBytes` bytes; nothing for a
// longer one, any other object or a null reference.
inline std::optional<std::string> StringText(CFTypeRef object, std::size_t maxBytes) {
    if (object == nullptr || CFGetTypeID(object) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    std::string text(maxBytes + 1, '\0');
    if (!CFStringGetCString(static_cast<CFStringRef>(object), text.data(),
                            static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8)) {
        return std::nullopt;
    }
    text.resize(std::strlen(text.c_str()));
    return text;
}

}  // namespace tirsel::kvl::agent::driver::platform
