#include "ReadXmlPlistParser.h"

#include <algorithm>
#include <array>
#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/stream_translator.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <istream>
#include <iterator>
#include <locale>
#include <stdexcept>
#include <streambuf>
#include <string_view>

namespace grellan::testing {

namespace pt = boost::property_tree;

namespace {

// Numbers in a property list are written the "C" way whatever the host's locale.
template <typename T>
pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T> ClassicTranslator() {
    return pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T>(
        std::locale::classic());
}

// Measures element nesting the way the XML reader walks the text, without recursion.
// The reader descends one level per element and stops at its first error, so the scan
// follows the reader's own tokenisation (white space is blank, tab, CR and LF; the text
// ends at the first zero byte) and stops where the reader would fail: past that point
// nothing is read. Comments, CDATA, processing instructions, the declaration and the
// DOCTYPE hold no elements; quotes count only in attribute values.
class NestingScanner {
public:
    explicit NestingScanner(const std::string& text)
        : text(text), end(std::min(text.size(), text.find('\0'))) {}

    // True when some element lies deeper than `limit` (the root element is level 1).
    bool Exceeds(std::size_t limit) {
        SkipByteOrderMark();
        while (true) {
            if (depth == 0) {
                SkipWhiteSpace();
                if (pos >= end || At(pos) != '<') {
                    return false;  // the end of the text, or "expected <"
                }
            } else {
                while (pos < end && At(pos) != '<') {
                    ++pos;
                }
                if (pos >= end) {
                    return false;  // "unexpected end of data"
                }
            }
            ++pos;  // past '<'
            bool ok = true;
            switch (At(pos)) {
                case '/':
                    ok = CloseElement();
                    break;
                case '?':
                    ok = SkipPast(pos + 1, "?>");
                    break;
                case '!':
                    ok = SkipMarkup();
                    break;
                default: {
                    bool opened = false;
                    ok = ReadStartTag(opened);
                    if (ok && depth + 1 > limit) {
                        return true;
                    }
                    if (ok && opened) {
                        ++depth;
                    }
                    break;
                }
            }
            if (!ok) {
                return false;
            }
        }
    }

private:
    [[nodiscard]] char At(std::size_t i) const { return i < end ? text[i] : '\0'; }

    static bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool IsNameChar(char c) {
        return c != '\0' && !IsWhiteSpace(c) && c != '/' && c != '>' && c != '?';
    }
    static bool IsAttributeNameChar(char c) {
        return IsNameChar(c) && c != '<' && c != '=' && c != '!';
    }

    void SkipByteOrderMark() {
        if (end >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
            static_cast<unsigned char>(text[1]) == 0xBB &&
            static_cast<unsigned char>(text[2]) == 0xBF) {
            pos = 3;
        }
    }

    void SkipWhiteSpace() {
        while (IsWhiteSpace(At(pos))) {
            ++pos;
        }
    }

    void SkipName() {
        while (IsNameChar(At(pos))) {
            ++pos;
        }
    }

    [[nodiscard]] bool Matches(std::size_t from, const char* word) const {
        for (std::size_t i = 0; word[i] != '\0'; ++i) {
            if (At(from + i) != word[i]) {
                return false;
            }
        }
        return true;
    }

    // Moves past the first `terminator` at or after `from`; false when there is none.
    bool SkipPast(std::size_t from, const char* terminator) {
        const std::size_t found = std::string_view(text.data(), end).find(terminator, from);
        if (found == std::string_view::npos) {
            pos = end;
            return false;
        }
        pos = found + std::char_traits<char>::length(terminator);
        return true;
    }

    // At the '/' of a closing tag.
    bool CloseElement() {
        if (depth == 0) {
            return false;  // "expected element name"
        }
        ++pos;
        SkipName();
        SkipWhiteSpace();
        if (At(pos) != '>') {
            return false;
        }
        ++pos;
        --depth;
        return true;
    }

    // At the '!' of a comment, CDATA section, DOCTYPE or other "<!" markup.
    bool SkipMarkup() {
        if (Matches(pos, "!--")) {
            return SkipPast(pos + 3, "-->");
        }
        if (Matches(pos, "![CDATA[")) {
            return SkipPast(pos + 8, "]]>");
        }
        if (Matches(pos, "!DOCTYPE") && IsWhiteSpace(At(pos + 8))) {
            return SkipDoctype(pos + 9);
        }
        return SkipPast(pos + 1, ">");
    }

    // The DOCTYPE ends at the first '>' outside square brackets, which may nest.
    bool SkipDoctype(std::size_t from) {
        pos = from;
        while (At(pos) != '>') {
            if (pos >= end) {
                return false;
            }
            if (At(pos) == '[') {
                ++pos;
                for (std::size_t brackets = 1; brackets > 0; ++pos) {
                    if (pos >= end) {
                        return false;
                    }
                    if (At(pos) == '[') {
                        ++brackets;
                    } else if (At(pos) == ']') {
                        --brackets;
                    }
                }
            } else {
                ++pos;
            }
        }
        ++pos;
        return true;
    }

    // At the first character of an element name. `opened` tells a start tag from an
    // empty-element tag.
    bool ReadStartTag(bool& opened) {
        const std::size_t name = pos;
        SkipName();
        if (pos == name) {
            return false;  // "expected element name"
        }
        SkipWhiteSpace();
        while (IsAttributeNameChar(At(pos))) {
            while (IsAttributeNameChar(At(pos))) {
                ++pos;
            }
            SkipWhiteSpace();
            if (At(pos) != '=') {
                return false;
            }
            ++pos;
            SkipWhiteSpace();
            const char quote = At(pos);
            if (quote != '"' && quote != '\'') {
                return false;
            }
            ++pos;
            while (pos < end && At(pos) != quote) {
                ++pos;
            }
            if (pos >= end) {
                return false;
            }
            ++pos;
            SkipWhiteSpace();
        }
        if (At(pos) == '>') {
            ++pos;
            opened = true;
            return true;
        }
        if (At(pos) == '/' && At(pos + 1) == '>') {
            pos += 2;
            opened = false;
            return true;
        }
        return false;
    }

    const std::string& text;
    const std::size_t end;
    std::size_t pos = 0;
    std::size_t depth = 0;
};

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

// Copies the bytes of text[from, to) but its line feeds to `out`; returns the end of the copy.
char* CopyWithoutLineFeeds(const char* from, const char* to, char* out) {
    while (from != to) {
        const void* feed = std::memchr(from, '\n', static_cast<std::size_t>(to - from));
        const char* const stop = feed == nullptr ? to : static_cast<const char*>(feed);
        out = std::copy(from, stop, out);
        from = stop == to ? to : stop + 1;
    }
    return out;
}

std::string PrepareText(const std::string& text, std::size_t start) {
    std::string prepared(text.size() - start, '\0');
    char* const end =
        CopyWithoutLineFeeds(text.data() + start, text.data() + text.size(), prepared.data());
    prepared.resize(static_cast<std::size_t>(end - prepared.data()));
    return prepared;
}

// Serves the prepared text to the XML reader straight from the command output, a
// chunk at a time, so that no whole copy of it has to stay alive while the reader
// builds its own.
class PreparedTextBuffer : public std::streambuf {
public:
    PreparedTextBuffer(const std::string& text, std::size_t start) : text(text), next(start) {}

protected:
    int_type underflow() override {
        char* filled = chunk.data();
        while (filled == chunk.data() && next < text.size()) {
            // A chunk's worth of the output holds at most a chunk's worth of kept bytes.
            const std::size_t take = std::min(chunk.size(), text.size() - next);
            filled = CopyWithoutLineFeeds(text.data() + next, text.data() + next + take, filled);
            next += take;
        }
        if (filled == chunk.data()) {
            return traits_type::eof();
        }
        setg(chunk.data(), chunk.data(), filled);
        return traits_type::to_int_type(chunk[0]);
    }

private:
    const std::string& text;
    std::size_t next;
    std::array<char, std::size_t{64} * 1024> chunk{};
};

bool IsClassicSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The stored text of a plain decimal integer within the signed 64-bit range (optional
// blanks, an optional sign, digits, optional blanks), the very text the stream
// conversion writes for it; empty for every other text, which is left to the stream.
boost::optional<std::string> PlainInteger(const std::string& text) {
    constexpr unsigned long long kLowest = 9223372036854775808ULL;  // the magnitude of the minimum
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && IsClassicSpace(*p)) {
        ++p;
    }
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) {
        ++p;
    }
    const char* const digits = p;
    unsigned long long magnitude = 0;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
        const auto digit = static_cast<unsigned>(*p - '0');
        if (magnitude > (kLowest - digit) / 10) {
            return boost::none;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (p == digits || (!negative && magnitude == kLowest)) {
        return boost::none;
    }
    while (p != end && IsClassicSpace(*p)) {
        ++p;
    }
    if (p != end) {
        return boost::none;
    }
    char written[24];
    char* last = written;
    if (negative && magnitude != 0) {
        *last++ = '-';
    }
    last = std::to_chars(last, std::end(written), magnitude).ptr;
    return std::string(written, last);
}

// An integer text above the signed 64-bit range but within the unsigned one, e.g. a
// registry value with its top bit set; empty for every other text.
boost::optional<unsigned long long> UnsignedBeyondSignedRange(const std::string& text) {
    const std::locale& classic = std::locale::classic();
    const auto first = std::find_if(text.begin(), text.end(),
                                    [&classic](char c) { return !std::isspace(c, classic); });
    // The stream reads "-1" as the largest unsigned value; a minus sign is never unsigned.
    if (first == text.end() || *first == '-') {
        return boost::none;
    }
    return ClassicTranslator<unsigned long long>().get_value(text);
}

// The tree copies whatever it is given to append (it has no moves), so entries are
// appended empty, from ready-made empty parts, and filled in place. Subtrees are built
// apart and swapped into place: inserting them would copy every level again.
// Both are built once and never destroyed: a conversion running on a host's
// thread while the process exits must not meet a destroyed one.
const pt::ptree& EmptyTree() {
    static const pt::ptree* const empty = new pt::ptree();
    return *empty;
}

const pt::ptree::value_type& EmptyUnnamedEntry() {
    static const pt::ptree::value_type* const entry =
        new pt::ptree::value_type(std::string(), EmptyTree());
    return *entry;
}

// A new unnamed entry at the end of `target`.
pt::ptree& AppendUnnamed(pt::ptree& target) {
    return target.push_back(EmptyUnnamedEntry())->second;
}

pt::ptree& AppendKeyed(pt::ptree& target, const std::string& key) {
    return target.push_back(pt::ptree::value_type(key, EmptyTree()))->second;
}

// A key that names one entry of the tree it is looked up in: a path of a single part,
// whose look-up is the tree's own find (the earliest-added entry of that key).
bool IsSingleKey(const std::string& key) {
    return !key.empty() && key.find('.') == std::string::npos;
}

// put(key, text) without building a path for the common single-part key.
void PutText(pt::ptree& target, const std::string& key, const std::string& text) {
    if (!IsSingleKey(key)) {
        target.put(key, text);
        return;
    }
    const auto found = target.find(key);
    if (found != target.not_found()) {
        found->second.data() = text;
    } else {
        AppendKeyed(target, key).data() = text;
    }
}

// add_child(key, empty tree), likewise.
pt::ptree& AddChild(pt::ptree& target, const std::string& key) {
    return IsSingleKey(key) ? AppendKeyed(target, key) : target.add_child(key, EmptyTree());
}

// The property-list elements, told apart by name.
enum class Element { kText, kReal, kInteger, kTrue, kFalse, kArray, kDict, kKey, kOther };

Element Classify(const std::string& name) {
    switch (name.size()) {
        case 3:
            return name == "key" ? Element::kKey : Element::kOther;
        case 4:
            if (name == "real") {
                return Element::kReal;
            }
            if (name == "true") {
                return Element::kTrue;
            }
            if (name == "dict") {
                return Element::kDict;
            }
            return name == "date" || name == "data" ? Element::kText : Element::kOther;
        case 5:
            if (name == "array") {
                return Element::kArray;
            }
            return name == "false" ? Element::kFalse : Element::kOther;
        case 6:
            return name == "string" ? Element::kText : Element::kOther;
        case 7:
            return name == "integer" ? Element::kInteger : Element::kOther;
        default:
            return Element::kOther;
    }
}

}  // namespace

ReadXmlPlistParser::ReadXmlPlistParser(const std::string& text, pt::ptree& output)
    : output(output) {
    const std::size_t start = StartOfKeptLines(text);

    // The reader and the conversion recurse once per level, so a hostile dump deep
    // enough would overflow the stack; real dumps nest about 25 levels.
    if (NestingScanner(PrepareText(text, start)).Exceeds(kMaxNestingDepth)) {
        throw std::logic_error("XML nesting too deep");
    }

    PreparedTextBuffer buffer(text, start);
    std::istream stream(&buffer);
    pt::ptree read;
    pt::read_xml(stream, read, 0);
    document.swap(read);
}

void ReadXmlPlistParser::Parse(const std::string& path) {
    const boost::optional<pt::ptree&> root = document.get_child_optional(path);
    if (!root) {
        throw std::logic_error("XML does not contain main tags");
    }

    pt::ptree result;
    for (const auto& element : *root) {
        InsertValue(element, result);
    }
    // Attached only once complete, so a failed Parse leaves the output as it was.
    output.add_child("array", EmptyTree()).swap(result);
}

boost::optional<pt::ptree&> ReadXmlPlistParser::SearchNode(pt::ptree& tree,
                                                           const std::string& key) {
    if (IsSingleKey(key)) {
        const auto found = tree.find(key);
        if (found != tree.not_found()) {
            return found->second;
        }
    } else if (boost::optional<pt::ptree&> found = tree.get_child_optional(key)) {
        return found;
    }
    for (auto& entry : tree) {
        if (boost::optional<pt::ptree&> found = SearchNode(entry.second, key)) {
            return found;
        }
    }
    return boost::none;
}

void ReadXmlPlistParser::InsertValue(const std::pair<const std::string, pt::ptree>& element,
                                     pt::ptree& target) {
    const std::string& name = element.first;
    switch (Classify(name)) {
        case Element::kText:
        case Element::kReal:
        case Element::kInteger:
            AppendUnnamed(target) = element.second;
            break;
        case Element::kTrue:
        case Element::kFalse:
            // The elements are empty; the entry carries the same text a dictionary stores.
            AppendUnnamed(target).data() = name;
            break;
        case Element::kArray: {
            pt::ptree array;
            for (const auto& member : element.second) {
                InsertValue(member, array);
            }
            AppendUnnamed(target).swap(array);
            break;
        }
        case Element::kDict: {
            pt::ptree dict;
            LoadXMLData(element.second, dict);
            AppendUnnamed(target).swap(dict);
            break;
        }
        case Element::kKey:
        case Element::kOther:
            if (name != "<xmlattr>") {
                throw std::logic_error("Unknow tag");
            }
            break;
    }
}

void ReadXmlPlistParser::LoadXMLData(const pt::ptree& dict, pt::ptree& target) {
    const std::string* key = nullptr;
    for (const auto& entry : dict) {
        const pt::ptree& value = entry.second;
        const Element element = Classify(entry.first);
        if (key == nullptr) {
            // Anything but a key where a key belongs is passed over.
            if (element == Element::kKey) {
                key = &value.data();
            }
            continue;
        }

        switch (element) {
            case Element::kText:
                PutText(target, *key, value.data());
                break;
            case Element::kReal:
                target.put(*key, value.get_value<double>(ClassicTranslator<double>()),
                           ClassicTranslator<double>());
                break;
            case Element::kInteger:
                if (const auto plain = PlainInteger(value.data())) {
                    PutText(target, *key, *plain);
                } else if (const auto number = value.get_value_optional<long long>(
                               ClassicTranslator<long long>())) {
                    target.put(*key, *number, ClassicTranslator<long long>());
                } else if (const auto large = UnsignedBeyondSignedRange(value.data())) {
                    target.put(*key, *large, ClassicTranslator<unsigned long long>());
                } else {
                    // Throws the tree's own conversion error.
                    value.get_value<long long>(ClassicTranslator<long long>());
                }
                break;
            case Element::kTrue:
            case Element::kFalse:
                // The text the tree writes for a boolean.
                PutText(target, *key, entry.first);
                break;
            case Element::kArray: {
                pt::ptree array;
                for (const auto& member : value) {
                    InsertValue(member, array);
                }
                AddChild(target, *key).swap(array);
                break;
            }
            case Element::kDict: {
                pt::ptree nested;
                LoadXMLData(value, nested);
                AddChild(target, *key).swap(nested);
                break;
            }
            case Element::kKey:
            case Element::kOther:
                throw std::logic_error("Unknow tag");
        }
        key = nullptr;
    }
}

}  // namespace grellan::testing
