#pragma once

#include <boost/property_tree/ptree.hpp>

namespace tirsel::kvl::agent::driver::common {

// The conversion rules from property-list elements to tree entries, written once
// for both ways of reading the elements: `Entry` is TreeEntry (an entry of a tree
// read_xml built) or XmlEntry (the same entry seen through the XML reader). An
// Entry offers Name() (the key: an element's name, "<xmlattr>", "<xmlcomment>"),
// ReadText(out) (its value), CopyTo(node) (its node as read_xml builds it) and
// Next(entry) (its entries in order).
//
// Errors: std::logic_error "Unknow tag" for an element the rules do not know
// where they want a value (comments and "key" included); ptree_bad_data from the
// tree's stream conversion for a "real" or "integer" in a dictionary whose text
// does not convert.
template <typename Entry>
class PlistRules {
public:
    // The array rule: adds at most one unnamed entry for `element` to `target`.
    static void InsertValue(Entry& element, boost::property_tree::ptree& target);
    // The dictionary rule: stores the key and value pairs among the entries of
    // `dict` in `target`.
    static void LoadXMLData(Entry& dict, boost::property_tree::ptree& target);
    // The array rule applied to each entry of `node` in order.
    static void InsertEntries(Entry& node, boost::property_tree::ptree& target);
};

}  // namespace tirsel::kvl::agent::driver::common
