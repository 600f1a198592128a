#include "common/plist/XmlEntry.h"

#include "common/plist/PropertyTrees.h"

namespace tirsel::kvl::agent::driver::common {

namespace pt = boost::property_tree;

using Piece = XmlReader::Piece;

XmlEntry XmlEntry::Document(XmlReader& reader) {
    XmlEntry document;
    document.reader = &reader;
    document.open = true;
    return document;
}

// An element or a comment just read.
XmlEntry::XmlEntry(XmlReader& reader, const Piece& piece)
    : reader(&reader),
      name(piece.text),
      text(piece.text),
      attributes(piece.attributes),
      depth(reader.Depth()),
      kind(piece.kind == Piece::kComment ? Kind::kComment : Kind::kElement),
      open(piece.open) {}

template <class Visit>
bool XmlEntry::ReadContent(Visit visit) {
    if (!open) {
        return false;
    }
    while (true) {
        // Past whatever the last piece opened and its visitor left unread.
        reader->SkipTo(depth);
        const Piece piece = kind == Kind::kDocument ? reader->NextAtTop() : reader->NextInElement();
        if (piece.kind == Piece::kEnd) {
            open = false;
            return false;
        }
        if (visit(piece)) {
            return true;
        }
    }
}

std::string_view XmlEntry::Name() const {
    switch (kind) {
        case Kind::kComment:
            return kCommentKey;
        case Kind::kAttributes:
            return kAttributesKey;
        case Kind::kDocument:
        case Kind::kElement:
        case Kind::kAttribute:
            break;
    }
    return name;
}

void XmlEntry::ReadText(std::string& out) {
    out.clear();
    switch (kind) {
        case Kind::kComment:
            out.append(text);
            return;
        case Kind::kAttribute:
            XmlReader::AppendValue(text, out);
            return;
        case Kind::kDocument:
        case Kind::kAttributes:
            return;
        case Kind::kElement:
            break;
    }
    ReadContent([&](const Piece& piece) {
        if (piece.kind == Piece::kText) {
            XmlReader::AppendValue(piece, out);
        }
        return false;
    });
}

void XmlEntry::CopyTo(pt::ptree& node) {
    if (kind != Kind::kElement) {
        ReadText(node.data());
        for (XmlEntry entry; Next(entry);) {
            entry.CopyTo(AppendKeyed(node, entry.Name()));
        }
        return;
    }
    if (attributes != nullptr && !attributesPassed) {
        XmlEntry all;
        Next(all);
        all.CopyTo(AppendKeyed(node, kAttributesKey));
    }
    ReadContent([&](const Piece& piece) {
        if (piece.kind == Piece::kText) {
            XmlReader::AppendValue(piece, node.data());
        } else if (piece.kind == Piece::kElement || piece.kind == Piece::kComment) {
            XmlEntry entry(*reader, piece);
            entry.CopyTo(AppendKeyed(node, entry.Name()));
        }
        return false;
    });
}

bool XmlEntry::Next(XmlEntry& entry) {
    switch (kind) {
        case Kind::kComment:
        case Kind::kAttribute:
            return false;
        case Kind::kAttributes: {
            XmlReader::Attribute attribute;
            if (!XmlReader::NextAttribute(attributes, attribute)) {
                return false;
            }
            entry = XmlEntry();
            entry.kind = Kind::kAttribute;
            entry.name = attribute.name;
            entry.text = attribute.value;
            return true;
        }
        case Kind::kDocument:
        case Kind::kElement:
            break;
    }
    if (attributes != nullptr && !attributesPassed) {
        attributesPassed = true;
        entry = XmlEntry();
        entry.kind = Kind::kAttributes;
        entry.attributes = attributes;
        return true;
    }
    return ReadContent([&](const Piece& piece) {
        if (piece.kind != Piece::kElement && piece.kind != Piece::kComment) {
            return false;
        }
        entry = XmlEntry(*reader, piece);
        return true;
    });
}

}  // namespace tirsel::kvl::agent::driver::common
