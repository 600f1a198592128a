#include "platform/CommandOutput.h"

#include <algorithm>

namespace tirsel::kvl::agent::driver::platform {

bool CommandOutput::Append(const char* bytes, std::size_t size) {
    if (size > limit - std::min(received, limit) || received > limit) {
        received = limit + 1;
        text.clear();
        text.shrink_to_fit();
        return false;
    }
    received += size;
    // Grow by doubling, but never past the limit: the kept text cannot be
    // longer than what arrived.
    if (text.size() + size > text.capacity()) {
        text.reserve(std::min(limit, std::max(text.capacity() * 2, text.size() + size)));
    }
    const char* end = bytes + size;
    for (const char* p = bytes; p != end; ++p) {
        const char c = *p;
        if (c == '\0') {
            pieceEnded = true;
        } else if (!pieceEnded) {
            text.push_back(c);
        }
        if (++pieceUsed == kPiece || c == '\n') {
            pieceUsed = 0;
            pieceEnded = false;
        }
    }
    return true;
}

std::string CommandOutput::TakeText() {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return std::move(text);
}

}  // namespace tirsel::kvl::agent::driver::platform
