#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::platform {

// Owns one open file descriptor and closes it on destruction.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor();

    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    // open(path, O_RDONLY); the result is not open when that fails.
    static FileDescriptor OpenReadOnly(const std::string& path);

    bool IsOpen() const { return fd >= 0; }
    int Get() const { return fd; }
    void Close();

private:
    int fd = -1;
};

}  // namespace tirsel::kvl::agent::driver::platform
