#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileDescriptor.h"
#include "platform/MemoryMapping.h"

namespace tirsel::kvl::agent::driver::platform {

// The physical-memory device of one scan, opened once and examined once.
// A character device (the real one) or a regular file (an image standing in
// for it) is accepted; anything else is refused before any read, so that a
// FIFO or a directory in its place neither blocks the caller nor is mapped.
class MemoryDevice {
public:
    enum class State { CannotOpen, Refused, CharacterDevice, RegularFile };

    // open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) and one fstat. The
    // descriptor is kept only for an accepted kind.
    static MemoryDevice Open(const std::string& path);

    State GetState() const { return state; }
    bool IsUsable() const { return state == State::CharacterDevice || state == State::RegularFile; }

    // Where mappings must end: for a regular file, the end of its last, partial
    // page (pages wholly past the end would raise SIGBUS when read, so they
    // count as failed mappings, as the device would fail them); for a device,
    // the highest offset.
    std::uint64_t MappableEnd() const { return mappableEnd; }

    // Maps `length` bytes from the page-aligned `offset`; not valid when the
    // range reaches past MappableEnd or mmap fails.
    MemoryMapping Map(std::uint64_t offset, std::size_t length) const;

private:
    MemoryDevice(FileDescriptor descriptor, State state, std::uint64_t mappableEnd);

    FileDescriptor descriptor;
    State state;
    std::uint64_t mappableEnd;
};

}  // namespace tirsel::kvl::agent::driver::platform
