#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

namespace tirsel::kvl::agent::driver::inspect {

// Reads the tool's input files and standard input, never more than
// kMaxInput bytes: a real SMBIOS table is at most 64 KiB (SMBIOS 3 allows
// 4 GiB in theory), a snapshot text a third more, so kMaxInput leaves ample
// room while /dev/zero, a pipe without end or a wrong multi-gigabyte file
// cannot take the host's memory.
class InputReader {
public:
    static constexpr std::size_t kMaxInput = std::size_t{16} << 20;

    // The whole file. Throws BadInput naming the file and the
    // system's reason ("No such file or directory", "Is a directory", ...),
    // or saying that it is larger than kMaxInput.
    static std::string ReadFile(const std::string& path);
    // The whole stream, under the same limit; `name` names it in messages.
    static std::string ReadStream(std::istream& in, const std::string& name);
};

}  // namespace tirsel::kvl::agent::driver::inspect
