#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::common {

// A tool's output cut down to the XML text the property-list reader reads: the
// lines before the first one that starts with '<' are dropped, the rest are
// joined without separators (their line feeds left out), and a zero byte ends
// the text.
class PreparedText {
public:
    // Prepares a copy of `output`.
    explicit PreparedText(const std::string& output);
    // Prepares `output` where it lies, without a copy.
    explicit PreparedText(std::string&& output);

    // The prepared text, ended by a zero byte. Boost's reader writes into the
    // text it reads, hence the mutable access.
    [[nodiscard]] const char* Data() const { return text.data(); }
    char* Data() { return text.data(); }

private:
    std::string text;
};

}  // namespace tirsel::kvl::agent::driver::common
