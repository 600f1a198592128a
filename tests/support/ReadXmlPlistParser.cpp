#include "ReadXmlPlistParser.h"

#include <algorithm>
#include <boost/property_tree/stream_translator.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <istream>
#include <locale>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string_view>
#include <utility>

namespace grellan::testing {

namespace pt = boost::property_tree;

namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kSpace = " \t\r\n";

// The output's lines, cut at each line feed, from the first one that starts with
// '<' on, joined without separators.
std::string XmlText(const std::string& output) {
    std::string xml;
    bool started = false;
    for (std::size_t begin = 0; begin < output.size();) {
        const std::size_t end = std::min(output.find('\n', begin), output.size());
        const std::string_view line(output.data() + begin, end - begin);
        started = started || (!line.empty() && line.front() == '<');
        if (started) {
            xml += line;
        }
        begin = end + 1;
    }
    return xml;
}

// Serves the prepared text to read_xml and lets it go once read_xml has taken it
// into a buffer of its own, so that the reference's peak memory (which the
// benchmarks compare) stays what read_xml itself needs.
class TextOnce : public std::streambuf {
public:
    explicit TextOnce(std::string text) : text(std::move(text)) {
        setg(this->text.data(), this->text.data(), this->text.data() + this->text.size());
    }

protected:
    int_type underflow() override {
        setg(nullptr, nullptr, nullptr);
        std::string().swap(text);
        return traits_type::eof();
    }

private:
    std::string text;
};

// Past the first `terminator` at or after `from`.
std::size_t Past(std::string_view xml, std::string_view terminator, std::size_t from) {
    const std::size_t found = xml.find(terminator, from);
    return found == kNone ? kNone : found + terminator.size();
}

// Past the start tag whose name starts at `at`; `empty` tells "/>" from ">".
// The text is taken to be well formed up to there.
std::size_t PastStartTag(std::string_view xml, std::size_t at, bool& empty) {
    at = xml.find_first_of(" \t\r\n/>?", at);  // past the name
    while ((at = xml.find_first_not_of(kSpace, at)) != kNone) {
        if (xml[at] == '>' || xml[at] == '/') {
            empty = xml[at] == '/';
            return at + (empty ? 2 : 1);
        }
        // An attribute: its name, '=', a value in quotes.
        at = xml.find('=', at);
        if (at == kNone || (at = xml.find_first_not_of(kSpace, at + 1)) == kNone) {
            return kNone;
        }
        at = Past(xml, xml.substr(at, 1), at + 1);
    }
    return kNone;
}

// Past the DOCTYPE's '>': the first one outside square brackets, which may nest.
std::size_t PastDoctype(std::string_view xml, std::size_t at) {
    for (std::size_t brackets = 0; at < xml.size(); ++at) {
        if (xml[at] == '[') {
            ++brackets;
        } else if (xml[at] == ']' && brackets > 0) {
            --brackets;
        } else if (xml[at] == '>' && brackets == 0) {
            return at + 1;
        }
    }
    return kNone;
}

// Past the first tag of an element deeper than `limit`, taking the text to be
// well formed up to there; kNone when there is none. `open` is then how many
// elements are open past it.
std::size_t PastFirstTagBeyond(std::string_view xml, std::size_t limit, std::size_t& open) {
    std::size_t depth = 0;
    for (std::size_t at = xml.find('<'); at != kNone; at = xml.find('<', at)) {
        const std::string_view rest = xml.substr(at + 1);
        const auto starts = [&rest](std::string_view word) {
            return rest.substr(0, word.size()) == word;
        };
        if (starts("/")) {
            if (depth == 0) {
                return kNone;
            }
            --depth;
            at = Past(xml, ">", at);
        } else if (starts("?")) {
            at = Past(xml, "?>", at + 2);
        } else if (starts("!--")) {
            at = Past(xml, "-->", at + 4);
        } else if (starts("![CDATA[")) {
            at = Past(xml, "]]>", at + 9);
        } else if (starts("!DOCTYPE") && rest.size() > 8 && kSpace.find(rest[8]) != kNone) {
            at = PastDoctype(xml, at + 10);
        } else if (starts("!")) {
            at = Past(xml, ">", at + 2);
        } else {
            bool empty = false;
            at = PastStartTag(xml, at + 1, empty);
            if (at != kNone && depth == limit) {
                open = empty ? depth : depth + 1;
                return at;
            }
            depth += empty ? 0 : 1;
        }
    }
    return kNone;
}

// How deep the elements of a tree read_xml built nest.
std::size_t ElementDepth(const pt::ptree& tree) {
    std::size_t deepest = 0;
    for (const auto& [key, child] : tree) {
        if (key != "<xmlattr>" && key != "<xmlcomment>") {
            deepest = std::max(deepest, 1 + ElementDepth(child));
        }
    }
    return deepest;
}

bool DeeperThan(const std::string& xml, std::size_t limit) {
    // read_xml stops at the first zero byte.
    const std::string_view text(xml.data(), std::min(xml.size(), xml.find('\0')));
    std::size_t open = 0;
    const std::size_t tagEnd = PastFirstTagBeyond(text, limit, open);
    if (tagEnd == kNone) {
        return false;
    }
    std::string probe(text.substr(0, tagEnd));
    // Character references are harmless without '&'; their errors do not end the count.
    std::replace(probe.begin(), probe.end(), '&', 'x');
    for (std::size_t i = 0; i < open; ++i) {
        probe += "</>";
    }
    std::istringstream stream(probe);
    pt::ptree read;
    try {
        pt::read_xml(stream, read, 0);
    } catch (const pt::xml_parser_error&) {
        return false;  // read_xml stops before the tag
    }
    if (ElementDepth(read) <= limit) {
        throw std::runtime_error("the reference's nesting count disagrees with read_xml");
    }
    return true;
}

// Numbers in a property list are written the "C" way whatever the host's locale.
template <typename T>
pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T> Classic() {
    return pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T>(
        std::locale::classic());
}

// A new empty entry of `key` at the end of `target`.
pt::ptree& Append(pt::ptree& target, const std::string& key) {
    return target.push_back(pt::ptree::value_type(key, pt::ptree()))->second;
}

// The integer rule: the text read as a long long; above that range, as an
// unsigned long long when it has no minus sign (registry values with the top
// bit set). A text that fits neither throws the tree's conversion error.
void PutInteger(pt::ptree& target, const std::string& key, const pt::ptree& value) {
    if (const auto number = value.get_value_optional<long long>(Classic<long long>())) {
        target.put(key, *number, Classic<long long>());
        return;
    }
    if (value.data().find('-') == std::string::npos) {
        if (const auto large =
                value.get_value_optional<unsigned long long>(Classic<unsigned long long>())) {
            target.put(key, *large, Classic<unsigned long long>());
            return;
        }
    }
    value.get_value<long long>(Classic<long long>());
}

// The dictionary rule: the key and value pairs among the entries of `dict`, stored in `target`.
void DictionaryRule(const pt::ptree& dict, pt::ptree& target);

// The array rule: at most one unnamed entry for `element`.
void ArrayRule(const pt::ptree::value_type& element, pt::ptree& target) {
    const std::string& name = element.first;
    if (name == "string" || name == "real" || name == "integer" || name == "date" ||
        name == "data") {
        Append(target, std::string()) = element.second;
    } else if (name == "true" || name == "false") {
        // The same text a dictionary stores for them.
        Append(target, std::string()).data() = name;
    } else if (name == "array") {
        pt::ptree array;
        for (const auto& member : element.second) {
            ArrayRule(member, array);
        }
        Append(target, std::string()).swap(array);
    } else if (name == "dict") {
        pt::ptree dict;
        DictionaryRule(element.second, dict);
        Append(target, std::string()).swap(dict);
    } else if (name != "<xmlattr>") {
        throw std::logic_error("Unknow tag");
    }
}

void DictionaryRule(const pt::ptree& dict, pt::ptree& target) {
    const std::string* key = nullptr;
    for (const auto& [name, value] : dict) {
        if (key == nullptr) {
            if (name == "key") {
                key = &value.data();
            }
            continue;
        }
        if (name == "string" || name == "date" || name == "data") {
            target.put(*key, value.data());
        } else if (name == "real") {
            target.put(*key, value.get_value<double>(Classic<double>()), Classic<double>());
        } else if (name == "integer") {
            PutInteger(target, *key, value);
        } else if (name == "true" || name == "false") {
            target.put(*key, name == "true", Classic<bool>());
        } else if (name == "array") {
            pt::ptree array;
            for (const auto& member : value) {
                ArrayRule(member, array);
            }
            target.add_child(*key, pt::ptree()).swap(array);
        } else if (name == "dict") {
            pt::ptree nested;
            DictionaryRule(value, nested);
            target.add_child(*key, pt::ptree()).swap(nested);
        } else {
            throw std::logic_error("Unknow tag");
        }
        key = nullptr;
    }
}

}  // namespace

ReadXmlPlistParser::ReadXmlPlistParser(const std::string& text, pt::ptree& output)
    : output(output) {
    std::string xml = XmlText(text);
    if (DeeperThan(xml, kMaxNestingDepth)) {
        throw std::logic_error("XML nesting too deep");
    }
    TextOnce buffer(std::move(xml));
    std::istream stream(&buffer);
    pt::read_xml(stream, document, 0);
}

void ReadXmlPlistParser::Parse(const std::string& path) {
    const boost::optional<pt::ptree&> root = document.get_child_optional(path);
    if (!root) {
        throw std::logic_error("XML does not contain main tags");
    }
    pt::ptree result;
    for (const auto& element : *root) {
        ArrayRule(element, result);
    }
    output.add_child("array", pt::ptree()).swap(result);
}

boost::optional<pt::ptree&> ReadXmlPlistParser::SearchNode(pt::ptree& tree,
                                                           const std::string& key) {
    if (const boost::optional<pt::ptree&> here = tree.get_child_optional(key)) {
        return here;
    }
    for (auto& entry : tree) {
        if (const boost::optional<pt::ptree&> below = SearchNode(entry.second, key)) {
            return below;
        }
    }
    return boost::none;
}

}  // namespace grellan::testing
