#include "platform/MemoryMapping.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <limits>
#include <utility>

namespace tirsel::kvl::agent::driver::platform {

MemoryMapping::MemoryMapping(int fd, std::uint64_t offset, std::size_t length) {
    if (length == 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return;
    }
    // A regular file (an image standing in for the device) cannot be read
    // in pages wholly past its end: they raise SIGBUS on first touch. Such a
    // mapping counts as failed, as the device would fail it. The file's last,
    // partial page reads as zeros past the end and may be mapped.
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        const std::uint64_t mappable =
            (static_cast<std::uint64_t>(status.st_size) + page - 1) / page * page;
        if (mappable < offset || mappable - offset < length) {
            return;
        }
    }
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (mapped != MAP_FAILED) {
        base = mapped;
        this->length = length;
    }
}

MemoryMapping::~MemoryMapping() {
    Unmap();
}

MemoryMapping::MemoryMapping(MemoryMapping&& other) noexcept
    : base(std::exchange(other.base, nullptr)), length(std::exchange(other.length, 0)) {}

MemoryMapping& MemoryMapping::operator=(MemoryMapping&& other) noexcept {
    if (this != &other) {
        Unmap();
        base = std::exchange(other.base, nullptr);
        length = std::exchange(other.length, 0);
    }
    return *this;
}

void MemoryMapping::Unmap() {
    if (base != nullptr) {
        ::munmap(base, length);
        base = nullptr;
        length = 0;
    }
}

}  // namespace tirsel::kvl::agent::driver::platform
