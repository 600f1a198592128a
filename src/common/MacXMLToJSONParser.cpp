#include "common/MacXMLToJSONParser.h"

#include <algorithm>
#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/stream_translator.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <locale>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

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
    explicit NestingScanner(std::string_view text)
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
        const std::size_t found = text.substr(0, end).find(terminator, from);
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

    const std::string_view text;
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

// The kept lines of `text` joined, in a buffer of their own.
std::string PreparedCopy(const std::string& text) {
    const std::size_t start = StartOfKeptLines(text);
    std::string prepared;
    prepared.reserve(text.size() - start + 1);  // and the final zero byte
    for (std::size_t line = start; line < text.size();) {
        const std::size_t feed = std::min(text.find('\n', line), text.size());
        prepared.append(text, line, feed - line);
        line = feed + 1;
    }
    return prepared;
}

// The kept lines of `text` joined in place: the text is read where the command wrote it.
void PrepareInPlace(std::string& text) {
    char* const begin = text.data();
    const std::size_t start = StartOfKeptLines(text);
    char* const end = MoveWithoutLineFeeds(begin + start, begin + text.size(), begin);
    text.resize(static_cast<std::size_t>(end - begin));
}

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

Element Classify(std::string_view name) {
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

[[noreturn]] void ThrowUnknownTag() {
    throw std::logic_error("Unknow tag");
}

// put(key, text as double): a text that does not convert throws the tree's own error.
void StoreReal(pt::ptree& target, const std::string& key, const std::string& text) {
    const boost::optional<double> number = ClassicTranslator<double>().get_value(text);
    if (!number) {
        pt::ptree(text).get_value<double>(ClassicTranslator<double>());
    }
    target.put(key, *number, ClassicTranslator<double>());
}

// put(key, text as long long), likewise; see PlainInteger and UnsignedBeyondSignedRange.
void StoreInteger(pt::ptree& target, const std::string& key, const std::string& text) {
    if (const auto plain = PlainInteger(text)) {
        PutText(target, key, *plain);
    } else if (const auto number = ClassicTranslator<long long>().get_value(text)) {
        target.put(key, *number, ClassicTranslator<long long>());
    } else if (const auto large = UnsignedBeyondSignedRange(text)) {
        target.put(key, *large, ClassicTranslator<unsigned long long>());
    } else {
        pt::ptree(text).get_value<long long>(ClassicTranslator<long long>());
    }
}

// The direct reading of the prepared text. It follows the Boost XML reader
// (the rapidxml copy that read_xml runs with flags 0, i.e. with comment nodes)
// step by step, without changing the text and without a tree of its own, and
// gives up (DirectReadingEnds) wherever it would not be sure to see the same:
// at every error, whose message and line the reader alone reports, at numeric
// character references and at entity references in attribute values. The
// full reader then decides.
struct DirectReadingEnds {};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsXmlNameChar(char c) {
    return c != '\0' && !IsXmlSpace(c) && c != '/' && c != '>' && c != '?';
}

bool IsXmlAttributeNameChar(char c) {
    return IsXmlNameChar(c) && c != '<' && c != '=' && c != '!';
}

// One step of the text, as the reader's document tree sees it.
struct Piece {
    enum Kind {
        kElement,  // `text` is the name
        kComment,  // `text` is the comment
        kText,     // character data or a CDATA section
        kEnd,      // of the element's content, or of the document
        kNothing,  // the declaration, a processing instruction, the DOCTYPE, other "<!" markup
    };
    Piece() = default;
    explicit Piece(Kind kind, std::string_view text = {}) : kind(kind), text(text) {}

    Kind kind = kEnd;
    std::string_view text;
    const char* attributes = nullptr;  // an element's first attribute, if it has any
    bool open = false;                 // an element with content (not an empty-element tag)
    bool translate = false;            // character data with entity references
};

class XmlText {
public:
    explicit XmlText(const char* text) : at(text) {
        if (static_cast<unsigned char>(at[0]) == 0xEF &&
            static_cast<unsigned char>(at[1]) == 0xBB &&
            static_cast<unsigned char>(at[2]) == 0xBF) {
            at += 3;
        }
    }

    // The next piece outside every element.
    Piece NextAtTop() {
        SkipSpace();
        if (*at == '\0') {
            return Piece{};
        }
        if (*at != '<') {
            throw DirectReadingEnds{};  // "expected <"
        }
        ++at;
        return Markup();
    }

    // The next piece of an element's content.
    Piece NextInElement() {
        if (*at == '<') {
            if (at[1] == '/') {
                at += 2;
                while (IsXmlNameChar(*at)) {
                    ++at;
                }
                SkipSpace();
                if (*at != '>') {
                    throw DirectReadingEnds{};
                }
                ++at;
                return Piece{};
            }
            ++at;
            return Markup();
        }
        Piece data{Piece::kText};
        const char* const start = at;
        for (; *at != '<'; ++at) {
            if (*at == '\0') {
                throw DirectReadingEnds{};  // "unexpected end of data"
            }
            if (*at == '&') {
                if (at[1] == '#') {
                    throw DirectReadingEnds{};
                }
                data.translate = true;
            }
        }
        data.text = std::string_view(start, static_cast<std::size_t>(at - start));
        return data;
    }

    // Moves past the end of `element`.
    void Skip(const Piece& element) {
        if (!element.open) {
            return;
        }
        for (std::size_t depth = 1; depth > 0;) {
            const Piece piece = NextInElement();
            if (piece.kind == Piece::kEnd) {
                --depth;
            } else if (piece.kind == Piece::kElement && piece.open) {
                ++depth;
            }
        }
    }

    // Calls `take(name, value)` for each attribute from `at` on; returns where they end.
    template <typename Take>
    static const char* Attributes(const char* at, Take&& take) {
        while (IsXmlAttributeNameChar(*at)) {
            const char* const name = at;
            while (IsXmlAttributeNameChar(*at)) {
                ++at;
            }
            const std::string_view attribute(name, static_cast<std::size_t>(at - name));
            at = SkipSpace(at);
            if (*at != '=') {
                throw DirectReadingEnds{};
            }
            at = SkipSpace(at + 1);
            const char quote = *at;
            if (quote != '"' && quote != '\'') {
                throw DirectReadingEnds{};
            }
            const char* const value = ++at;
            for (; *at != quote; ++at) {
                if (*at == '\0' || *at == '&') {
                    throw DirectReadingEnds{};
                }
            }
            take(attribute, std::string_view(value, static_cast<std::size_t>(at - value)));
            at = SkipSpace(at + 1);
        }
        return at;
    }

    // Character data with the reader's five entity references replaced; every
    // other '&' stays as it is.
    static void AppendValue(const Piece& data, std::string& out) {
        if (!data.translate) {
            out.append(data.text);
            return;
        }
        static const std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}, {"&gt;", '>'}, {"&lt;", '<'}};
        const std::string_view text = data.text;
        for (std::size_t i = 0; i < text.size();) {
            bool replaced = false;
            if (text[i] == '&') {
                for (const auto& [entity, character] : kEntities) {
                    if (text.compare(i, entity.size(), entity) == 0) {
                        out += character;
                        i += entity.size();
                        replaced = true;
                        break;
                    }
                }
            }
            if (!replaced) {
                out += text[i++];
            }
        }
    }

private:
    static const char* SkipSpace(const char* at) {
        while (IsXmlSpace(*at)) {
            ++at;
        }
        return at;
    }
    void SkipSpace() { at = SkipSpace(at); }

    // The text up to `terminator`, moving past it.
    std::string_view Until(const char* terminator) {
        const char* const found = std::strstr(at, terminator);
        if (found == nullptr) {
            throw DirectReadingEnds{};  // "unexpected end of data"
        }
        const std::string_view text(at, static_cast<std::size_t>(found - at));
        at = found + std::strlen(terminator);
        return text;
    }

    // Matches `word` from `from` on; stops at the first difference (or the zero byte).
    static bool Matches(const char* from, const char* word) {
        for (; *word != '\0'; ++from, ++word) {
            if (*from != *word) {
                return false;
            }
        }
        return true;
    }

    // At the character after '<'.
    Piece Markup() {
        if (*at == '?') {
            // The declaration and processing instructions alike end at "?>".
            ++at;
            Until("?>");
            return Piece{Piece::kNothing};
        }
        if (*at == '!') {
            if (Matches(at, "!--")) {
                at += 3;
                return Piece{Piece::kComment, Until("-->")};
            }
            if (Matches(at, "![CDATA[")) {
                at += 8;
                return Piece{Piece::kText, Until("]]>")};
            }
            if (Matches(at, "!DOCTYPE") && IsXmlSpace(at[8])) {
                at += 9;
                SkipDoctype();
                return Piece{Piece::kNothing};
            }
            ++at;
            Until(">");
            return Piece{Piece::kNothing};
        }
        Piece element{Piece::kElement};
        const char* const name = at;
        while (IsXmlNameChar(*at)) {
            ++at;
        }
        if (at == name) {
            throw DirectReadingEnds{};  // "expected element name"
        }
        element.text = std::string_view(name, static_cast<std::size_t>(at - name));
        SkipSpace();
        if (IsXmlAttributeNameChar(*at)) {
            element.attributes = at;
            at = Attributes(at, [](std::string_view, std::string_view) {});
        }
        if (*at == '>') {
            ++at;
            element.open = true;
        } else if (at[0] == '/' && at[1] == '>') {
            at += 2;
        } else {
            throw DirectReadingEnds{};  // "expected >"
        }
        return element;
    }

    // The DOCTYPE ends at the first '>' outside square brackets, which may nest.
    void SkipDoctype() {
        while (*at != '>') {
            if (*at == '\0') {
                throw DirectReadingEnds{};
            }
            if (*at == '[') {
                ++at;
                for (int depth = 1; depth > 0; ++at) {
                    if (*at == '\0') {
                        throw DirectReadingEnds{};
                    }
                    if (*at == '[') {
                        ++depth;
                    } else if (*at == ']') {
                        --depth;
                    }
                }
            } else {
                ++at;
            }
        }
        ++at;
    }

    const char* at;
};

// Whether the direct reading covers the whole text.
bool ReadsDirectly(const char* text) {
    try {
        XmlText reader(text);
        for (Piece piece = reader.NextAtTop(); piece.kind != Piece::kEnd;
             piece = reader.NextAtTop()) {
            reader.Skip(piece);
        }
        return true;
    } catch (const DirectReadingEnds&) {
        return false;
    }
}

// The conversion rules applied to the text as it is read; the same rules as
// MacXMLToJSONParser::InsertValue and LoadXMLData apply to the reader's tree.
class DirectConversion {
public:
    explicit DirectConversion(XmlText& reader) : reader(reader) {}

    // The array rule for the entries that follow (of the document when `atTop`).
    void ArrayRule(pt::ptree& target, bool atTop) {
        while (true) {
            const Piece piece = atTop ? reader.NextAtTop() : reader.NextInElement();
            switch (piece.kind) {
                case Piece::kEnd:
                    return;
                case Piece::kComment:
                    ThrowUnknownTag();
                case Piece::kElement:
                    InsertValue(piece, target);
                    break;
                case Piece::kText:
                case Piece::kNothing:
                    break;
            }
        }
    }

private:
    void InsertValue(const Piece& element, pt::ptree& target) {
        switch (Classify(element.text)) {
            case Element::kText:
            case Element::kReal:
            case Element::kInteger:
                Copy(element, AppendUnnamed(target));
                break;
            case Element::kTrue:
            case Element::kFalse:
                reader.Skip(element);
                AppendUnnamed(target).data() = std::string(element.text);
                break;
            case Element::kArray: {
                pt::ptree array;
                if (element.open) {
                    ArrayRule(array, false);
                }
                AppendUnnamed(target).swap(array);
                break;
            }
            case Element::kDict: {
                pt::ptree dict;
                DictionaryRule(element, dict);
                AppendUnnamed(target).swap(dict);
                break;
            }
            case Element::kKey:
            case Element::kOther:
                ThrowUnknownTag();
        }
    }

    void DictionaryRule(const Piece& dict, pt::ptree& target) {
        if (!dict.open) {
            return;
        }
        std::string key;
        bool pending = false;
        while (true) {
            const Piece piece = reader.NextInElement();
            if (piece.kind == Piece::kEnd) {
                return;
            }
            if (piece.kind == Piece::kComment && pending) {
                ThrowUnknownTag();
            }
            if (piece.kind != Piece::kElement) {
                continue;
            }
            const Element element = Classify(piece.text);
            if (!pending) {
                // Anything but a key where a key belongs is passed over.
                if (element == Element::kKey) {
                    key = Text(piece);
                    pending = true;
                } else {
                    reader.Skip(piece);
                }
                continue;
            }
            switch (element) {
                case Element::kText:
                    PutText(target, key, Text(piece));
                    break;
                case Element::kReal:
                    StoreReal(target, key, Text(piece));
                    break;
                case Element::kInteger:
                    StoreInteger(target, key, Text(piece));
                    break;
                case Element::kTrue:
                case Element::kFalse:
                    reader.Skip(piece);
                    PutText(target, key, std::string(piece.text));
                    break;
                case Element::kArray: {
                    pt::ptree array;
                    if (piece.open) {
                        ArrayRule(array, false);
                    }
                    AddChild(target, key).swap(array);
                    break;
                }
                case Element::kDict: {
                    pt::ptree nested;
                    DictionaryRule(piece, nested);
                    AddChild(target, key).swap(nested);
                    break;
                }
                case Element::kKey:
                case Element::kOther:
                    ThrowUnknownTag();
            }
            pending = false;
        }
    }

    // The element's value in the reader's tree: its character data joined.
    std::string Text(const Piece& element) {
        std::string text;
        if (!element.open) {
            return text;
        }
        while (true) {
            const Piece piece = reader.NextInElement();
            if (piece.kind == Piece::kEnd) {
                return text;
            }
            if (piece.kind == Piece::kText) {
                XmlText::AppendValue(piece, text);
            } else if (piece.kind == Piece::kElement) {
                reader.Skip(piece);
            }
        }
    }

    // The element's node in the reader's tree, as read_xml builds it: its text,
    // "<xmlattr>" with its attributes, then its elements and comments.
    void Copy(const Piece& element, pt::ptree& node) {
        if (element.attributes != nullptr) {
            pt::ptree& attributes = AppendKeyed(node, "<xmlattr>");
            XmlText::Attributes(
                element.attributes, [&attributes](std::string_view name, std::string_view value) {
                    AppendKeyed(attributes, std::string(name)).data() = std::string(value);
                });
        }
        if (!element.open) {
            return;
        }
        while (true) {
            const Piece piece = reader.NextInElement();
            switch (piece.kind) {
                case Piece::kEnd:
                    return;
                case Piece::kText:
                    XmlText::AppendValue(piece, node.data());
                    break;
                case Piece::kElement:
                    Copy(piece, AppendKeyed(node, std::string(piece.text)));
                    break;
                case Piece::kComment:
                    AppendKeyed(node, "<xmlcomment>").data() = std::string(piece.text);
                    break;
                case Piece::kNothing:
                    break;
            }
        }
    }

    XmlText& reader;
};

// The parts of a tree path as the tree's own path splits it at '.': an empty
// path has none, a final '.' adds none.
std::vector<std::string> PathParts(const std::string& path) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t dot = std::min(path.find('.', start), path.size());
        parts.push_back(path.substr(start, dot - start));
        start = dot + 1;
    }
    return parts;
}

}  // namespace

MacXMLToJSONParser::MacXMLToJSONParser(const std::string& text, pt::ptree& output)
    : text(PreparedCopy(text)), output(output) {
    Read();
}

MacXMLToJSONParser::MacXMLToJSONParser(std::string&& dump, pt::ptree& output)
    : text(std::move(dump)), output(output) {
    PrepareInPlace(text);
    Read();
}

void MacXMLToJSONParser::Read() {
    // The reader stops at the first zero byte, the end of the text at the latest.
    text.push_back('\0');

    // The reader and the conversion recurse once per level, so a hostile dump deep
    // enough would overflow the stack; real dumps nest about 25 levels.
    if (NestingScanner(text).Exceeds(kMaxNestingDepth)) {
        throw std::logic_error("XML nesting too deep");
    }
    if (!ReadsDirectly(text.data())) {
        ReadDocument();
    }
}

// What read_xml(stream, tree, 0) does with the text: Boost's reader builds its
// node tree in the text itself, and the generic XML tree is made from it.
void MacXMLToJSONParser::ReadDocument() {
    namespace rapidxml = pt::detail::rapidxml;
    char* const begin = text.data();
    // The document holds a 64 KiB pool: too much for a host thread's stack.
    const auto nodes = std::make_unique<rapidxml::xml_document<char>>();
    try {
        nodes->parse<rapidxml::parse_comment_nodes>(begin);
        pt::ptree read;
        for (rapidxml::xml_node<char>* child = nodes->first_node(); child != nullptr;
             child = child->next_sibling()) {
            pt::xml_parser::read_xml_node(child, read, 0);
        }
        document.swap(read);
    } catch (const rapidxml::parse_error& e) {
        // The line as read_xml counts it: the line feeds before the error in
        // the text as the reader left it (it writes into the text, and a
        // character reference may write a line feed).
        const auto line = static_cast<long>(std::count(begin, e.where<char>(), '\n') + 1);
        BOOST_PROPERTY_TREE_THROW(pt::xml_parser::xml_parser_error(e.what(), std::string(), line));
    }
    readDirectly = false;
    std::string().swap(text);
}

void MacXMLToJSONParser::Parse(const std::string& path) {
    const std::vector<std::string> parts = PathParts(path);
    if (readDirectly && std::any_of(parts.begin(), parts.end(), [](const std::string& part) {
            return part == "<xmlattr>" || part == "<xmlcomment>";
        })) {
        // Paths into attributes or comments are read from the generic tree.
        ReadDocument();
    }

    pt::ptree result;
    if (readDirectly) {
        XmlText reader(text.data());
        Piece node;
        bool atTop = true;
        for (const std::string& part : parts) {
            if (!atTop && !node.open) {
                throw std::logic_error("XML does not contain main tags");
            }
            Piece piece;
            do {
                piece = atTop ? reader.NextAtTop() : reader.NextInElement();
                if (piece.kind == Piece::kElement && piece.text != part) {
                    reader.Skip(piece);
                }
            } while (piece.kind != Piece::kEnd &&
                     (piece.kind != Piece::kElement || piece.text != part));
            if (piece.kind == Piece::kEnd) {
                throw std::logic_error("XML does not contain main tags");
            }
            node = piece;
            atTop = false;
        }
        if (atTop || node.open) {
            DirectConversion(reader).ArrayRule(result, atTop);
        }
    } else {
        const boost::optional<pt::ptree&> root = document.get_child_optional(path);
        if (!root) {
            throw std::logic_error("XML does not contain main tags");
        }
        for (const auto& element : *root) {
            InsertValue(element, result);
        }
    }
    // Attached only once complete, so a failed Parse leaves the output as it was.
    output.add_child("array", EmptyTree()).swap(result);
}

boost::optional<pt::ptree&> MacXMLToJSONParser::SearchNode(pt::ptree& tree,
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

void MacXMLToJSONParser::InsertValue(const std::pair<const std::string, pt::ptree>& element,
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
                ThrowUnknownTag();
            }
            break;
    }
}

void MacXMLToJSONParser::LoadXMLData(const pt::ptree& dict, pt::ptree& target) {
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
                StoreReal(target, *key, value.data());
                break;
            case Element::kInteger:
                StoreInteger(target, *key, value.data());
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
                ThrowUnknownTag();
        }
        key = nullptr;
    }
}

}  // namespace tirsel::kvl::agent::driver::common
