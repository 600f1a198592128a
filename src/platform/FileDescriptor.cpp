#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

namespace tirsel::kvl::agent::driver::platform {

void FileDescriptorTraits::Release(Handle fd) {
    ::close(fd);
}

FileDescriptor FileDescriptor::OpenReadOnly(const std::string& path) {
    return FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

}  // namespace tirsel::kvl::agent::driver::platform
