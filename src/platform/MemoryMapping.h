#pragma once

#include <cstddef>
#include <cstdint>

namespace tirsel::kvl::agent::driver::platform {

// A read-only, shared mapping of part of a file or device, unmapped on
// destruction. Not a UniqueHandle: munmap needs the length beside the address.
class MemoryMapping {
public:
    MemoryMapping() = default;
    // Maps `length` bytes of `fd` from `offset`, which must be a multiple of
    // the page size. The result is not valid when mmap fails.
    MemoryMapping(int fd, std::uint64_t offset, std::size_t length);
    ~MemoryMapping();

    MemoryMapping(MemoryMapping&& other) noexcept;
    MemoryMapping& operator=(MemoryMapping&& other) noexcept;
    MemoryMapping(const MemoryMapping&) = delete;
    MemoryMapping& operator=(const MemoryMapping&) = delete;

    bool IsValid() const { return base != nullptr; }
    const unsigned char* Bytes() const { return static_cast<const unsigned char*>(base); }
    std::size_t Length() const { return length; }
    void Unmap();

private:
    void* base = nullptr;
    std::size_t length = 0;
};

}  // namespace tirsel::kvl::agent::driver::platform
