#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>
#include <string_view>

namespace tirsel::kvl::agent::driver::common {

// One entry (key and node) of a property tree, as the property-list rules
// (PlistRules) read an entry; XmlEntry is the same seen through the XML reader.
class TreeEntry {
public:
    TreeEntry() = default;
    TreeEntry(std::string_view key, const boost::property_tree::ptree& node)
        : key(key), node(&node), next(node.begin()) {}

    [[nodiscard]] std::string_view Name() const { return key; }
    void ReadText(std::string& out) const { out = node->data(); }
    void CopyTo(boost::property_tree::ptree& target) const { target = *node; }
    // Makes `entry` the node's next entry; false after the last.
    bool Next(TreeEntry& entry) {
        if (next == node->end()) {
            return false;
        }
        entry = TreeEntry(next->first, next->second);
        ++next;
        return true;
    }

private:
    std::string_view key;
    const boost::property_tree::ptree* node = nullptr;
    boost::property_tree::ptree::const_iterator next;
};

}  // namespace tirsel::kvl::agent::driver::common
