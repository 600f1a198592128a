#include "platform/MemoryMapping.h"

#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <limits>
#include <utility>

namespace tirsel::kvl::agent::driver::platform {

MemoryMapping::MemoryMapping(int fd, std::uint64_t offset, std::size_t length) {
    if (length == 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return;
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
