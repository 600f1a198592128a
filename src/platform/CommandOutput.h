#pragma once

#include <cstddef>
#include <string>

namespace tirsel::kvl::agent::driver::platform {

// Collects a command's standard output by the reading rules of the line
// reader the library has always used, whatever sizes the pipe delivers: the
// stream is read in pieces of at most 127 bytes that end after a line feed,
// and a zero byte ends what its piece keeps. Text output comes through whole.
class CommandOutput {
public:
    explicit CommandOutput(std::size_t limit) : limit(limit) {}

    // Takes `size` further bytes of the stream. False, and nothing kept, once
    // more than `limit` bytes have arrived in all.
    bool Append(const char* bytes, std::size_t size);

    // The kept text with at most one final line feed removed.
    std::string TakeText();

private:
    static constexpr std::size_t kPiece = 127;
    std::size_t limit;
    std::size_t received = 0;
    std::size_t pieceUsed = 0;  // bytes of the current piece seen so far
    bool pieceEnded = false;    // a zero byte ended what the piece keeps
    std::string text;
};

}  // namespace tirsel::kvl::agent::driver::platform
