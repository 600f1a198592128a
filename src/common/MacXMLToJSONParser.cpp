#include "common/MacXMLToJSONParser.h"

#include <algorithm>
#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/stream_translator.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstddef>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace tirsel::kvl::agent::driver::common {

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

// Keeps the lines from the first one that starts with '<' and joins them without
// separators.
std::string PrepareText(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::string prepared;
    bool started = false;
    while (std::getline(lines, line)) {
        if (!started) {
            if (line.empty() || line.front() != '<') {
                continue;
            }
            started = true;
        }
        prepared += line;
    }
    return prepared;
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

// A new unnamed entry at the end of `target`. Subtrees are built apart and
// swapped into place: inserting them would copy every level again.
pt::ptree& AppendUnnamed(pt::ptree& target) {
    return target.push_back(std::make_pair(std::string(), pt::ptree()))->second;
}

}  // namespace

MacXMLToJSONParser::MacXMLToJSONParser(const std::string& text, pt::ptree& output)
    : output(output) {
    const std::string prepared = PrepareText(text);

    // The reader and the conversion recurse once per level, so a hostile dump deep
    // enough would overflow the stack; real dumps nest about 25 levels.
    if (NestingScanner(prepared).Exceeds(kMaxNestingDepth)) {
        throw std::logic_error("XML nesting too deep");
    }

    std::istringstream stream(prepared);
    pt::ptree read;
    pt::read_xml(stream, read, 0);
    document.swap(read);
}

void MacXMLToJSONParser::Parse(const std::string& path) {
    const boost::optional<pt::ptree&> root = document.get_child_optional(path);
    if (!root) {
        throw std::logic_error("XML does not contain main tags");
    }

    pt::ptree result;
    for (const auto& element : *root) {
        InsertValue(element, result);
    }
    // Attached only once complete, so a failed Parse leaves the output as it was.
    output.add_child("array", pt::ptree()).swap(result);
}

boost::optional<pt::ptree&> MacXMLToJSONParser::SearchNode(pt::ptree& tree,
                                                           const std::string& key) {
    if (boost::optional<pt::ptree&> found = tree.get_child_optional(key)) {
        return found;
    }
    for (auto& entry : tree) {
        if (boost::optional<pt::ptree&> found = SearchNode(entry.second, key)) {
            return found;
        }
    }
    return boost::none;
}

void MacXMLToJSONParser::InsertValue(const std::pair<const std::string, pt::ptree>& element,
                                     pt::ptree& target) {
    const std::string& name = element.first;
    if (name == "string" || name == "real" || name == "integer" || name == "date" ||
        name == "data") {
        target.push_back(std::make_pair(std::string(), element.second));
    } else if (name == "true" || name == "false") {
        // The elements are empty; the entry carries the same text a dictionary stores.
        target.push_back(std::make_pair(std::string(), pt::ptree(name)));
    } else if (name == "array") {
        pt::ptree array;
        for (const auto& member : element.second) {
            InsertValue(member, array);
        }
        AppendUnnamed(target).swap(array);
    } else if (name == "dict") {
        pt::ptree dict;
        LoadXMLData(element.second, dict);
        AppendUnnamed(target).swap(dict);
    } else if (name != "<xmlattr>") {
        throw std::logic_error("Unknow tag");
    }
}

void MacXMLToJSONParser::LoadXMLData(const pt::ptree& dict, pt::ptree& target) {
    boost::optional<std::string> key;
    for (const auto& entry : dict) {
        const std::string& name = entry.first;
        const pt::ptree& value = entry.second;
        if (!key) {
            // Anything but a key where a key belongs is passed over.
            if (name == "key") {
                key = value.data();
            }
            continue;
        }

        if (name == "string" || name == "date" || name == "data") {
            target.put(*key, value.data());
        } else if (name == "real") {
            target.put(*key, value.get_value<double>(ClassicTranslator<double>()),
                       ClassicTranslator<double>());
        } else if (name == "integer") {
            if (const auto number =
                    value.get_value_optional<long long>(ClassicTranslator<long long>())) {
                target.put(*key, *number, ClassicTranslator<long long>());
            } else if (const auto large = UnsignedBeyondSignedRange(value.data())) {
                target.put(*key, *large, ClassicTranslator<unsigned long long>());
            } else {
                // Throws the tree's own conversion error.
                value.get_value<long long>(ClassicTranslator<long long>());
            }
        } else if (name == "true" || name == "false") {
            target.put(*key, name == "true", ClassicTranslator<bool>());
        } else if (name == "array") {
            pt::ptree array;
            for (const auto& member : value) {
                InsertValue(member, array);
            }
            target.add_child(*key, pt::ptree()).swap(array);
        } else if (name == "dict") {
            pt::ptree nested;
            LoadXMLData(value, nested);
            target.add_child(*key, pt::ptree()).swap(nested);
        } else {
            throw std::logic_error("Unknow tag");
        }
        key.reset();
    }
}

}  // namespace tirsel::kvl::agent::driver::common
