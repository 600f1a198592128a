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
    if (!open) {
        return;
    }
    reader->SkipTo(depth);
    while (true) {
        const Piece piece = reader->NextInElement();
        if (piece.kind == Piece::kEnd) {
            open = false;
            return;
        }
        if (piece.kind == Piece::kText) {
            XmlReader::AppendValue(piece, out);
        } else {
            reader->SkipTo(depth);
        }
    }
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
    if (!open) {
        return;
    }
    reader->SkipTo(depth);
    while (true) {
        const Piece piece = reader->NextInElement();
        switch (piece.kind) {
            case Piece::kEnd:
                open = false;
                return;
            case Piece::kText:
                XmlReader::AppendValue(piece, node.data());
                break;
            case Piece::kElement:
            case Piece::kComment: {
                XmlEntry entry(*reader, piece);
                entry.CopyTo(AppendKeyed(node, entry.Name()));
                break;
            }
            case Piece::kNothing:
                break;
        }
    }
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
    if (!open) {
        return false;
    }
    reader->SkipTo(depth);
    while (true) {
        const Piece piece = kind == Kind::kDocument ? reader->NextAtTop() : reader->NextInElement();
        switch (piece.kind) {
            case Piece::kEnd:
                open = false;
                return false;
            case Piece::kElement:
            case Piece::kComment:
                entry = XmlEntry(*reader, piece);
                return true;
            case Piece::kText:
            case Piece::kNothing:
                break;
        }
    }
}

}  // namespace tirsel::kvl::agent::driver::common
