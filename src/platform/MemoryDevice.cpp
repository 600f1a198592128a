#include "platform/MemoryDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <utility>

namespace tirsel::kvl::agent::driver::platform {

MemoryDevice::MemoryDevice(FileDescriptor descriptor, State state, std::uint64_t mappableEnd)
    : descriptor(std::move(descriptor)), state(state), mappableEnd(mappableEnd) {}

MemoryDevice MemoryDevice::Open(const std::string& path) {
    constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!descriptor.IsOpen()) {
        return MemoryDevice(FileDescriptor(), State::CannotOpen, 0);
    }
    struct stat status {};
    if (::fstat(descriptor.Get(), &status) != 0) {
        return MemoryDevice(FileDescriptor(), State::Refused, 0);
    }
    if (S_ISCHR(status.st_mode)) {
        return MemoryDevice(std::move(descriptor), State::CharacterDevice, kNoLimit);
    }
    if (S_ISREG(status.st_mode) && status.st_size >= 0) {
        const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        const auto size = static_cast<std::uint64_t>(status.st_size);
        return MemoryDevice(std::move(descriptor), State::RegularFile,
                            (size + page - 1) / page * page);
    }
    return MemoryDevice(FileDescriptor(), State::Refused, 0);
}

MemoryMapping MemoryDevice::Map(std::uint64_t offset, std::size_t length) const {
    if (!IsUsable() || mappableEnd < offset || mappableEnd - offset < length) {
        return MemoryMapping();
    }
    return MemoryMapping(descriptor.Get(), offset, length);
}

}  // namespace tirsel::kvl::agent::driver::platform
