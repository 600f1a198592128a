#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::inspect {

// Finds a snapshot in text as people keep it: the whole output of
// `grellaninspect --snapshot` saved or piped, the label line with the Base64
// text under it, or the Base64 text alone; wrapped at any width, indented,
// with CRLF line ends, mail-quoted ("> ", ">> ", "> > ").
//
// The one rule: after removing each line's quote markers, the snapshot is the
// block of Base64 lines that follows the first line starting with kLabel (or,
// without such a line, that starts at the first line that is not blank). The
// block ends at a blank line, at a line holding anything but Base64, or after
// the line that ends in '=' padding; what follows it (a signature, a quoted
// reply) is not read. White space inside the block is dropped.
class SnapshotText {
public:
    // The line `--snapshot` prints above the snapshot's Base64 text.
    static constexpr const char* kLabel = "snapshot:";

    // `text` with each line's mail-quote markers ('>' and the blanks around
    // them at its start) and carriage returns removed.
    static std::string Unquoted(const std::string& text);

    // The snapshot's Base64 text in `text`, without white space. Throws
    // BadInput saying why when `text` holds none; `name` names the input.
    static std::string Find(const std::string& text, const std::string& name);
};

}  // namespace tirsel::kvl::agent::driver::inspect
