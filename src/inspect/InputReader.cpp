#include "inspect/InputReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <vector>

#include "inspect/BadInput.h"
#include "platform/FileDescriptor.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

constexpr std::size_t kChunk = std::size_t{64} << 10;

[[noreturn]] void ThrowTooLarge(const std::string& name) {
    throw BadInput(name + " is larger than " + std::to_string(InputReader::kMaxInput >> 20) +
                   " MiB (" + std::to_string(InputReader::kMaxInput) +
                   " bytes): not a table or a snapshot; refusing to read it");
}

[[noreturn]] void ThrowSystemError(const std::string& name, int error) {
    throw BadInput("cannot read " + name + ": " + std::strerror(error));
}

}  // namespace

std::string InputReader::ReadFile(const std::string& path) {
    const platform::FileDescriptor file = platform::FileDescriptor::OpenReadOnly(path);
    if (!file.IsOpen()) {
        ThrowSystemError(path, errno);
    }
    std::string content;
    std::vector<char> chunk(kChunk);
    // One byte beyond the limit tells a file of exactly kMaxInput bytes from a
    // larger one.
    while (content.size() <= kMaxInput) {
        const std::size_t want = std::min(chunk.size(), kMaxInput + 1 - content.size());
        const ssize_t got = ::read(file.Get(), chunk.data(), want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowSystemError(path, errno);
        }
        if (got == 0) {
            return content;
        }
        content.append(chunk.data(), static_cast<std::size_t>(got));
    }
    ThrowTooLarge(path);
}

std::string InputReader::ReadStream(std::istream& in, const std::string& name) {
    std::string content;
    std::vector<char> chunk(kChunk);
    while (content.size() <= kMaxInput && in) {
        const std::size_t want = std::min(chunk.size(), kMaxInput + 1 - content.size());
        in.read(chunk.data(), static_cast<std::streamsize>(want));
        content.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (content.size() > kMaxInput) {
        ThrowTooLarge(name);
    }
    if (in.bad()) {
        throw BadInput("cannot read " + name);
    }
    return content;
}

}  // namespace tirsel::kvl::agent::driver::inspect
