#pragma once

#include <string>

#include "platform/UniqueHandle.h"

namespace tirsel::kvl::agent::driver::platform {

// What an open file descriptor is to UniqueHandle: close gives it back.
struct FileDescriptorTraits {
    using Handle = int;
    static constexpr Handle kNull = -1;
    static void Release(Handle fd);
};

// One open file descriptor, with the call that opens a file for reading.
class FileDescriptor : public UniqueHandle<FileDescriptorTraits> {
public:
    using UniqueHandle::UniqueHandle;

    // open(path, O_RDONLY | O_CLOEXEC); the result is not open when that fails.
    static FileDescriptor OpenReadOnly(const std::string& path);

    bool IsOpen() const { return static_cast<bool>(*this); }
};

}  // namespace tirsel::kvl::agent::driver::platform
