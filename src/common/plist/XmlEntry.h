#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/plist/XmlReader.h"

namespace tirsel::kvl::agent::driver::common {

// One entry of the tree read_xml would build, seen through an XmlReader as the
// reader passes it: the document, an element, a comment, an element's
// attributes, one attribute. What it offers is what the property-list rules
// (PlistRules) read of an entry. An element's content is read once, in order:
// whatever an entry leaves unread its parent's Next passes over.
class XmlEntry {
public:
    // The keys read_xml gives an element's attributes and its comments.
    static constexpr std::string_view kAttributesKey = "<xmlattr>";
    static constexpr std::string_view kCommentKey = "<xmlcomment>";

    XmlEntry() = default;
    // The document `reader` reads, from its start.
    static XmlEntry Document(XmlReader& reader);

    // The entry's key: an element's or attribute's name, or one of the keys above.
    [[nodiscard]] std::string_view Name() const;
    // Sets `out` to the entry's value: the character data directly inside an
    // element joined, a comment's text, an attribute's value.
    void ReadText(std::string& out);
    // Fills `node`, a new empty node, as read_xml builds the entry's node: its
    // value, then "<xmlattr>" with its attributes, then its elements and comments.
    void CopyTo(boost::property_tree::ptree& node);
    // Makes `entry` the next entry of this one, in document order; false after the last.
    bool Next(XmlEntry& entry);

private:
    enum class Kind : unsigned char { kDocument, kElement, kComment, kAttributes, kAttribute };

    XmlEntry(XmlReader& reader, const XmlReader::Piece& piece);

    // The one loop over the content of the document or an element: hands
    // `visit` each piece in order, passing over what the previous piece opened
    // and was left unread, until `visit` returns true (then true) or the
    // content ends (then false, and the entry is read).
    template <class Visit>
    bool ReadContent(Visit visit);

    XmlReader* reader = nullptr;
    std::string_view name;             // an element's or attribute's name
    std::string_view text;             // a comment, an attribute's value as written
    const char* attributes = nullptr;  // an element's first attribute; the next one
    std::size_t depth = 0;             // open elements inside an element's content
    Kind kind = Kind::kDocument;
    bool attributesPassed = false;  // an element's attributes handed out by Next
    bool open = false;              // an element whose content is still to be read
};

}  // namespace tirsel::kvl::agent::driver::common
