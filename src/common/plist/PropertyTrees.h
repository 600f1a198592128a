#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>
#include <string_view>

namespace tirsel::kvl::agent::driver::common {

// Building and looking up property trees.
//
// Appending without copying subtrees. The tree copies whatever
// it is given to append (it has no moves), so entries are appended empty and
// filled in place, and a subtree built apart is swapped into its new entry:
// inserting it would copy every level again.

// A node with no value and no entries.
const boost::property_tree::ptree& EmptyTree();

// A new entry with an empty key at the end of `target`.
boost::property_tree::ptree& AppendUnnamed(boost::property_tree::ptree& target);

// A new entry of `key` at the end of `target`.
boost::property_tree::ptree& AppendKeyed(boost::property_tree::ptree& target, std::string_view key);

// Whether `key`, taken as a tree path, has a single part: then looking it up is the
// tree's own find (the earliest-added entry of that key), without building a path.
bool IsSingleKey(const std::string& key);

}  // namespace tirsel::kvl::agent::driver::common
