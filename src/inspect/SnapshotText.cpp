#include "inspect/SnapshotText.h"

#include <cstddef>
#include <string>
#include <vector>

#include "inspect/BadInput.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsBase64(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// What one line, without its white space, is to the block.
enum class Line { Empty, Base64, Padded, Other };

Line Classify(const std::string& compact) {
    if (compact.empty()) {
        return Line::Empty;
    }
    std::size_t i = 0;
    while (i < compact.size() && IsBase64(compact[i])) {
        ++i;
    }
    if (i == compact.size()) {
        return Line::Base64;
    }
    const std::size_t padding = compact.size() - i;
    const bool padded = padding <= 2 && compact.find_first_not_of('=', i) == std::string::npos;
    return padded ? Line::Padded : Line::Other;
}

std::string WithoutBlanks(const std::string& line) {
    std::string compact;
    for (const char c : line) {
        if (!IsBlank(c)) {
            compact += c;
        }
    }
    return compact;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

std::string Trimmed(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t\v\f");
    return first == std::string::npos ? std::string() : line.substr(first);
}

}  // namespace

std::string SnapshotText::Unquoted(const std::string& text) {
    std::string unquoted;
    unquoted.reserve(text.size());
    const std::vector<std::string> lines = Lines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        // Quote markers stand before the text, blanks around them: "> ",
        // ">> ", "> > ". Base64 and the tool's reports never hold '>'.
        std::size_t i = 0;
        bool quoted = false;
        while (i < line.size() && (IsBlank(line[i]) || line[i] == '>')) {
            quoted = quoted || line[i] == '>';
            ++i;
        }
        const std::size_t start = quoted ? i : 0;
        for (std::size_t j = start; j < line.size(); ++j) {
            if (line[j] != '\r') {
                unquoted += line[j];
            }
        }
        if (n + 1 < lines.size()) {
            unquoted += '\n';
        }
    }
    return unquoted;
}

std::string SnapshotText::Find(const std::string& text, const std::string& name) {
    const std::vector<std::string> lines = Lines(Unquoted(text));
    const std::string label = kLabel;
    std::size_t at = 0;  // the line the block may start on
    std::string first;   // that line, without white space
    bool labelled = false;
    for (std::size_t n = 0; n < lines.size() && !labelled; ++n) {
        const std::string line = Trimmed(lines[n]);
        if (line.compare(0, label.size(), label) == 0) {
            labelled = true;
            at = n;
            first = WithoutBlanks(line.substr(label.size()));
        }
    }
    if (!labelled) {
        first = WithoutBlanks(lines[0]);
    }
    // Blank lines before the block are passed over.
    while (first.empty() && at + 1 < lines.size()) {
        first = WithoutBlanks(lines[++at]);
    }
    const std::string where = "line " + std::to_string(at + 1);
    const Line kind = Classify(first);
    if (kind == Line::Empty) {
        throw BadInput(labelled ? name + ": the \"" + label + "\" line has no Base64 text under it"
                                : name + " holds nothing but white space: no snapshot");
    }
    if (kind == Line::Other) {
        if (labelled) {
            throw BadInput(name + ": " + where + ", under the \"" + label +
                           "\" line, is not Base64 text");
        }
        if (Trimmed(lines[at]).rfind("source:", 0) == 0) {
            throw BadInput(name + " is a grellaninspect report without a snapshot (no \"" + label +
                           "\" line): print the report with --snapshot");
        }
        throw BadInput(name + " holds no snapshot: no \"" + label + "\" line, and " + where +
                       " is not Base64 text");
    }
    std::string block = first;
    Line line = kind;
    while (line == Line::Base64 && ++at < lines.size()) {
        const std::string next = WithoutBlanks(lines[at]);
        line = Classify(next);
        if (line == Line::Base64 || line == Line::Padded) {
            block += next;
        }
    }
    // Wrapping may have put the second '=' of the padding on a line of its own.
    if (line == Line::Padded && block.size() % 4 == 3 && at + 1 < lines.size() &&
        WithoutBlanks(lines[at + 1]) == "=") {
        block += '=';
    }
    return block;
}

}  // namespace tirsel::kvl::agent::driver::inspect
