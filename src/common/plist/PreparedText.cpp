#include "common/plist/PreparedText.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace tirsel::kvl::agent::driver::common {

namespace {

// Where the kept text begins: the first line that starts with '<'. From there on every
// line is kept and joined without separators, so the prepared text is the rest of the
// output with its line feeds left out.
std::size_t StartOfKeptLines(const std::string& text) {
    std::size_t line = 0;
    while (line < text.size() && text[line] != '<') {
        const std::size_t feed = text.find('\n', line);
        line = feed == std::string::npos ? text.size() : feed + 1;
    }
    return line;
}

// Moves the bytes of [from, to) but its line feeds to `out`, which lies at or
// before `from`; returns the end of what was moved.
char* MoveWithoutLineFeeds(const char* from, const char* to, char* out) {
    while (from != to) {
        const void* feed = std::memchr(from, '\n', static_cast<std::size_t>(to - from));
        const char* const stop = feed == nullptr ? to : static_cast<const char*>(feed);
        const auto length = static_cast<std::size_t>(stop - from);
        std::memmove(out, from, length);
        out += length;
        from = stop == to ? to : stop + 1;
    }
    return out;
}

}  // namespace

PreparedText::PreparedText(const std::string& output) {
    const std::size_t start = StartOfKeptLines(output);
    text.reserve(output.size() - start + 1);  // and the final zero byte
    for (std::size_t line = start; line < output.size();) {
        const std::size_t feed = std::min(output.find('\n', line), output.size());
        text.append(output, line, feed - line);
        line = feed + 1;
    }
    text.push_back('\0');
}

PreparedText::PreparedText(std::string&& output) : text(std::move(output)) {
    char* const begin = text.data();
    const std::size_t start = StartOfKeptLines(text);
    char* const end = MoveWithoutLineFeeds(begin + start, begin + text.size(), begin);
    text.resize(static_cast<std::size_t>(end - begin));
    text.push_back('\0');
}

}  // namespace tirsel::kvl::agent::driver::common
