#include "common/plist/MacXMLToJSONParser.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "common/plist/PlistRules.h"
#include "common/plist/PropertyTrees.h"
#include "common/plist/TreeEntry.h"
#include "common/plist/XmlEntry.h"
#include "common/plist/XmlReader.h"

namespace tirsel::kvl::agent::driver::common {

namespace pt = boost::property_tree;

namespace {

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
    : text(text), output(output) {
    XmlReader::Check(this->text.Data(), kMaxNestingDepth);
}

MacXMLToJSONParser::MacXMLToJSONParser(std::string&& text, pt::ptree& output)
    : text(std::move(text)), output(output) {
    XmlReader::Check(this->text.Data(), kMaxNestingDepth);
}

void MacXMLToJSONParser::Parse(const std::string& path) {
    XmlReader reader(text.Data(), kMaxNestingDepth);
    XmlEntry node = XmlEntry::Document(reader);
    // At each step the earliest entry of that key, as the tree's own look-up takes it.
    for (const std::string& part : PathParts(path)) {
        XmlEntry entry;
        bool found = false;
        while (!found && node.Next(entry)) {
            found = entry.Name() == part;
        }
        if (!found) {
            throw std::logic_error("XML does not contain main tags");
        }
        node = entry;
    }
    pt::ptree result;
    PlistRules<XmlEntry>::InsertEntries(node, result);
    // Attached only once complete, so a failed Parse leaves the output as it was.
    AppendKeyed(output, "array").swap(result);
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
    TreeEntry entry(element.first, element.second);
    PlistRules<TreeEntry>::InsertValue(entry, target);
}

void MacXMLToJSONParser::LoadXMLData(const pt::ptree& dict, pt::ptree& target) {
    TreeEntry entry(std::string_view(), dict);
    PlistRules<TreeEntry>::LoadXMLData(entry, target);
}

}  // namespace tirsel::kvl::agent::driver::common
