#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace tirsel::kvl::agent::driver::platform {

FileDescriptor::~FileDescriptor() {
    Close();
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Close();
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

FileDescriptor FileDescriptor::OpenReadOnly(const std::string& path) {
    return FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

void FileDescriptor::Close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace tirsel::kvl::agent::driver::platform
