#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tirsel::kvl::agent::driver::common {

// Reads XML text as Boost's XML reader does: the rapidxml copy that
// boost::property_tree::read_xml runs with flags 0 (comment nodes kept; no
// trimming, no white-space folding, no check of closing tag names). The same
// tokens, white space (blank, tab, CR and LF), names, entity and character
// references; the text ends at its first zero byte. It reads the text where
// it lies, a piece at a time, without a tree and without writing into it.
class XmlReader {
public:
    // One step of the text, as the reader's document tree sees it.
    struct Piece {
        enum Kind {
            kElement,  // a start tag or an empty-element tag; `text` is the name
            kComment,  // `text` is the comment
            kText,     // character data or a CDATA section, as written
            kEnd,      // of the element's content, or of the document
            kNothing,  // the declaration, a processing instruction, the DOCTYPE, other "<!" markup
        };
        Kind kind = kEnd;
        std::string_view text;
        const char* attributes = nullptr;  // an element's first attribute, if it has any
        bool open = false;                 // an element with content (not an empty-element tag)
        bool references = false;           // character data (not CDATA) holding a '&'
    };

    struct Attribute {
        std::string_view name;
        std::string_view value;  // as written, between the quotes
    };

    // A reader of `text` from its start (past a UTF-8 byte-order mark) that refuses
    // elements deeper than `maxDepth` (the root element is level 1).
    XmlReader(const char* text, std::size_t maxDepth);

    // Reads all of `text` (a zero byte ends it) as read_xml reads it. Throws
    // - std::logic_error "XML nesting too deep" at the first tag of an element
    //   deeper than `maxDepth` that comes before the reader's first error (a
    //   refused character reference does not end the count);
    // - otherwise, for malformed text, the xml_parser_error read_xml throws: Boost's
    //   reader itself words it, reading `text` (and writing into it, as it does).
    // The other members are meant for a text this has accepted: they never fail on it.
    static void Check(char* text, std::size_t maxDepth);

    // The next piece outside every element.
    Piece NextAtTop();
    // The next piece of the content of the innermost open element.
    Piece NextInElement();
    // How many elements are open at the current position.
    [[nodiscard]] std::size_t Depth() const { return depth; }
    // Reads on until no more than `level` elements are open.
    void SkipTo(std::size_t level);

    // Reads the attribute at `at` (a Piece's `attributes`, then what this returns in
    // `at`) and moves `at` past it; false where an element's attributes end.
    static bool NextAttribute(const char*& at, Attribute& attribute);

    // Appends the value of character data or of an attribute value as the reader
    // keeps it: "&amp;", "&apos;", "&quot;", "&gt;", "&lt;" and numeric character
    // references replaced (the latter in UTF-8), every other '&' left as it is.
    static void AppendValue(std::string_view written, std::string& out);
    // The same for a kText piece; a CDATA section is kept as written.
    static void AppendValue(const Piece& data, std::string& out);

private:
    struct Malformed {
        const char* message;  // the reader's words
    };

    Piece Markup();
    void SkipSpace();
    std::string_view Until(const char* terminator);
    void SkipDoctype();

    const char* at;
    const std::size_t maxDepth;
    std::size_t depth = 0;
};

}  // namespace tirsel::kvl::agent::driver::common
