#include "common/plist/XmlReader.h"

#include <algorithm>
#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/detail/xml_parser_error.hpp>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tirsel::kvl::agent::driver::common {

namespace {

namespace rapidxml = boost::property_tree::detail::rapidxml;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameChar(char c) {
    return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '?';
}

bool IsAttributeNameChar(char c) {
    return IsNameChar(c) && c != '<' && c != '=' && c != '!';
}

const char* PastSpace(const char* at) {
    while (IsSpace(*at)) {
        ++at;
    }
    return at;
}

// Whether `word` stands at `at`; stops at the first difference (or the zero byte).
bool Matches(const char* at, const char* word) {
    for (; *word != '\0'; ++at, ++word) {
        if (*at != *word) {
            return false;
        }
    }
    return true;
}

// The value of a digit of a numeric character reference: the reader takes the
// hexadecimal letters in decimal references too.
constexpr unsigned kNotADigit = 0xFF;

unsigned DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return kNotADigit;
}

// The code point in UTF-8, as the reader writes it.
void AppendUtf8(unsigned long code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
        return;
    }
    int trailing = 1;
    unsigned lead = 0xC0;
    if (code >= 0x10000) {
        trailing = 3;
        lead = 0xF0;
    } else if (code >= 0x800) {
        trailing = 2;
        lead = 0xE0;
    }
    out += static_cast<char>(lead | (code >> (6 * trailing)));
    for (int shift = 6 * (trailing - 1); shift >= 0; shift -= 6) {
        out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
    }
}

// Appends `written` with its references replaced to `out` (when given); returns the
// reader's words for the first reference it refuses, or nullptr. The reader reads
// digits until the first non-digit and then wants a ';'; it refuses code points past
// U+10FFFF. The code is an unsigned long, as the reader's, and wraps as it does.
const char* Decode(std::string_view written, std::string* out) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}, {"&gt;", '>'}, {"&lt;", '<'}};
    std::size_t i = 0;
    while (i < written.size()) {
        const std::size_t amp = std::min(written.find('&', i), written.size());
        if (out != nullptr) {
            out->append(written, i, amp - i);
        }
        i = amp;
        if (i == written.size()) {
            break;
        }
        if (written.compare(i, 2, "&#") == 0) {
            const unsigned long base = written.compare(i + 2, 1, "x") == 0 ? 16 : 10;
            i += base == 16 ? 3 : 2;
            unsigned long code = 0;
            for (; i < written.size() && DigitValue(written[i]) != kNotADigit; ++i) {
                code = code * base + DigitValue(written[i]);
            }
            if (code >= 0x110000) {
                return "invalid numeric character entity";
            }
            if (out != nullptr) {
                AppendUtf8(code, *out);
            }
            if (written.compare(i, 1, ";") != 0) {
                return "expected ;";
            }
            ++i;
            continue;
        }
        const auto* const entity =
            std::find_if(std::begin(kEntities), std::end(kEntities), [&](const auto& known) {
                return written.compare(i, known.first.size(), known.first) == 0;
            });
        const bool known = entity != std::end(kEntities);
        if (out != nullptr) {
            *out += known ? entity->second : '&';
        }
        i += known ? entity->first.size() : 1;
    }
    return nullptr;
}

// The reader's words for the first character reference it refuses in `piece`
// (character data or attribute values), or nullptr.
const char* ReferenceProblem(const XmlReader::Piece& piece) {
    if (piece.kind == XmlReader::Piece::kText && piece.references) {
        return Decode(piece.text, nullptr);
    }
    if (piece.kind == XmlReader::Piece::kElement) {
        XmlReader::Attribute attribute;
        for (const char* at = piece.attributes;
             at != nullptr && XmlReader::NextAttribute(at, attribute);) {
            if (const char* problem = Decode(attribute.value, nullptr)) {
                return problem;
            }
        }
    }
    return nullptr;
}

// Throws what read_xml throws for `text`, which Boost's reader reads (writing into
// it) to word its error: its message, and the line as read_xml counts it, the line
// feeds before the error in the text as the reader left it (a character reference
// may have written one).
[[noreturn]] void ThrowReadersError(char* text, const char* problem) {
    namespace xml_parser = boost::property_tree::xml_parser;
    // The document holds a 64 KiB pool: too much for a host thread's stack.
    const auto document = std::make_unique<rapidxml::xml_document<char>>();
    try {
        document->parse<rapidxml::parse_comment_nodes>(text);
    } catch (const rapidxml::parse_error& e) {
        const auto line = static_cast<long>(std::count(text, e.where<char>(), '\n') + 1);
        BOOST_PROPERTY_TREE_THROW(xml_parser::xml_parser_error(e.what(), std::string(), line));
    }
    // Boost's reader took what this one refused; the text is refused all the same.
    BOOST_PROPERTY_TREE_THROW(xml_parser::xml_parser_error(problem, std::string(), 0));
}

}  // namespace

XmlReader::XmlReader(const char* text, std::size_t maxDepth) : at(text), maxDepth(maxDepth) {
    if (static_cast<unsigned char>(at[0]) == 0xEF && static_cast<unsigned char>(at[1]) == 0xBB &&
        static_cast<unsigned char>(at[2]) == 0xBF) {
        at += 3;
    }
}

void XmlReader::Check(char* text, std::size_t maxDepth) {
    const char* problem = nullptr;
    try {
        XmlReader reader(text, maxDepth);
        while (true) {
            const bool atTop = reader.depth == 0;
            const Piece piece = atTop ? reader.NextAtTop() : reader.NextInElement();
            if (atTop && piece.kind == Piece::kEnd) {
                break;
            }
            if (problem == nullptr) {
                problem = ReferenceProblem(piece);
            }
        }
    } catch (const Malformed& malformed) {
        if (problem == nullptr) {
            problem = malformed.message;
        }
    }
    if (problem != nullptr) {
        // No element before the error lies deeper than the limit, so neither does
        // Boost's reader recurse deeper.
        ThrowReadersError(text, problem);
    }
}

XmlReader::Piece XmlReader::NextAtTop() {
    SkipSpace();
    if (*at == '\0') {
        return Piece{};
    }
    if (*at != '<') {
        throw Malformed{"expected <"};
    }
    ++at;
    return Markup();
}

XmlReader::Piece XmlReader::NextInElement() {
    if (*at == '<') {
        if (at[1] == '/') {
            at += 2;
            while (IsNameChar(*at)) {
                ++at;
            }
            SkipSpace();
            if (*at != '>') {
                throw Malformed{"expected >"};
            }
            ++at;
            --depth;
            return Piece{};
        }
        ++at;
        return Markup();
    }
    Piece data;
    data.kind = Piece::kText;
    const char* const start = at;
    at += std::strcspn(at, "<&");
    if (*at == '&') {
        data.references = true;
        at += std::strcspn(at, "<");
    }
    if (*at == '\0') {
        throw Malformed{"unexpected end of data"};
    }
    data.text = std::string_view(start, static_cast<std::size_t>(at - start));
    return data;
}

void XmlReader::SkipTo(std::size_t level) {
    while (depth > level) {
        NextInElement();
    }
}

bool XmlReader::NextAttribute(const char*& at, Attribute& attribute) {
    if (!IsAttributeNameChar(*at)) {
        return false;
    }
    const char* const name = at;
    while (IsAttributeNameChar(*at)) {
        ++at;
    }
    attribute.name = std::string_view(name, static_cast<std::size_t>(at - name));
    at = PastSpace(at);
    if (*at != '=') {
        throw Malformed{"expected ="};
    }
    at = PastSpace(at + 1);
    const char quote = *at;
    if (quote != '"' && quote != '\'') {
        throw Malformed{"expected ' or \""};
    }
    const char* const value = ++at;
    at = std::strchr(at, quote);
    if (at == nullptr) {
        throw Malformed{"expected ' or \""};
    }
    attribute.value = std::string_view(value, static_cast<std::size_t>(at - value));
    at = PastSpace(at + 1);
    return true;
}

void XmlReader::AppendValue(std::string_view written, std::string& out) {
    Decode(written, &out);
}

void XmlReader::AppendValue(const Piece& data, std::string& out) {
    if (data.references) {
        Decode(data.text, &out);
    } else {
        out.append(data.text);
    }
}

void XmlReader::SkipSpace() {
    at = PastSpace(at);
}

// The text up to `terminator`, moving past it.
std::string_view XmlReader::Until(const char* terminator) {
    const char* const found = std::strstr(at, terminator);
    if (found == nullptr) {
        throw Malformed{"unexpected end of data"};
    }
    const std::string_view text(at, static_cast<std::size_t>(found - at));
    at = found + std::strlen(terminator);
    return text;
}

// At the character after '<'.
XmlReader::Piece XmlReader::Markup() {
    Piece piece;
    if (*at == '?') {
        // The declaration and processing instructions alike end at "?>".
        ++at;
        Until("?>");
        piece.kind = Piece::kNothing;
        return piece;
    }
    if (*at == '!') {
        if (Matches(at, "!--")) {
            at += 3;
            piece.kind = Piece::kComment;
            piece.text = Until("-->");
        } else if (Matches(at, "![CDATA[")) {
            at += 8;
            piece.kind = Piece::kText;
            piece.text = Until("]]>");
        } else if (Matches(at, "!DOCTYPE") && IsSpace(at[8])) {
            at += 9;
            SkipDoctype();
            piece.kind = Piece::kNothing;
        } else {
            ++at;
            Until(">");
            piece.kind = Piece::kNothing;
        }
        return piece;
    }
    piece.kind = Piece::kElement;
    const char* const name = at;
    while (IsNameChar(*at)) {
        ++at;
    }
    if (at == name) {
        throw Malformed{"expected element name"};
    }
    piece.text = std::string_view(name, static_cast<std::size_t>(at - name));
    SkipSpace();
    if (IsAttributeNameChar(*at)) {
        piece.attributes = at;
        for (Attribute attribute; NextAttribute(at, attribute);) {
        }
    }
    if (*at == '>') {
        ++at;
        piece.open = true;
    } else if (*at == '/') {
        ++at;
        if (*at != '>') {
            throw Malformed{"expected >"};
        }
        ++at;
    } else {
        throw Malformed{"expected >"};
    }
    // The reader and the conversion recurse once per level, so a hostile dump deep
    // enough would overflow the stack; real dumps nest about 25 levels.
    if (depth + 1 > maxDepth) {
        throw std::logic_error("XML nesting too deep");
    }
    if (piece.open) {
        ++depth;
    }
    return piece;
}

// The DOCTYPE ends at the first '>' outside square brackets, which may nest.
void XmlReader::SkipDoctype() {
    while (*at != '>') {
        if (*at == '\0') {
            throw Malformed{"unexpected end of data"};
        }
        if (*at == '[') {
            ++at;
            for (std::size_t brackets = 1; brackets > 0; ++at) {
                if (*at == '\0') {
                    throw Malformed{"unexpected end of data"};
                }
                if (*at == '[') {
                    ++brackets;
                } else if (*at == ']') {
                    --brackets;
                }
            }
        } else {
            ++at;
        }
    }
    ++at;
}

}  // namespace tirsel::kvl::agent::driver::common
