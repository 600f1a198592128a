#pragma once

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <string>
#include <utility>

#include "common/plist/PreparedText.h"

namespace tirsel::kvl::agent::driver::common {

// Converts property-list XML (as printed by macOS tools) into a property tree:
// dictionaries become keyed entries, arrays unnamed entries.
//
// What it throws, besides std::bad_alloc:
// - the constructors: boost::property_tree::xml_parser::xml_parser_error for
//   malformed XML, as read_xml throws it: "<unspecified file>(LINE): " and Boost's
//   reader's words, one of "expected <", "expected >", "expected element name",
//   "expected =", "expected ' or \"", "unexpected end of data", "expected ;" and
//   "invalid numeric character entity" (LINE is 1 but for line feeds written by
//   character references); std::logic_error "XML nesting too deep" for an element
//   deeper than kMaxNestingDepth before the first such error (a refused character
//   reference does not count as one);
// - Parse: std::logic_error "XML does not contain main tags" when the path leads
//   nowhere, and what InsertValue throws;
// - InsertValue and LoadXMLData: std::logic_error "Unknow tag" for an element the
//   rules do not know where they want a value (comments and "key" included), and
//   boost::property_tree::ptree_bad_data ("conversion of data to type ... failed")
//   for a "real" or "integer" in a dictionary whose text does not convert;
// - SearchNode: nothing.
class MacXMLToJSONParser {
public:
    // Deepest element nesting (the root element is level 1) the reader accepts.
    static constexpr std::size_t kMaxNestingDepth = 512;

    // Prepares `text` (drops the lines before the first one starting with '<'
    // and joins the rest without separators) and reads it as XML.
    MacXMLToJSONParser(const std::string& text, boost::property_tree::ptree& output);
    // The same, preparing and reading the text in its own buffer, without a copy.
    MacXMLToJSONParser(std::string&& text, boost::property_tree::ptree& output);

    // Converts the node at `path` and appends it to the output tree as "array";
    // a failed Parse leaves the output tree as it was.
    void Parse(const std::string& path);

    // First node of `key` in pre-order, a node's own entries before its
    // children's; empty when there is none.
    boost::optional<boost::property_tree::ptree&> SearchNode(boost::property_tree::ptree& tree,
                                                             const std::string& key);

    // The array rule and the dictionary rule over a tree read_xml built (PlistRules).
    void InsertValue(const std::pair<const std::string, boost::property_tree::ptree>& element,
                     boost::property_tree::ptree& target);
    void LoadXMLData(const boost::property_tree::ptree& dict, boost::property_tree::ptree& target);

private:
    // The prepared text, checked once; each Parse reads it again and converts it
    // as it reads it, without a tree of the whole document.
    PreparedText text;
    boost::property_tree::ptree& output;
};

}  // namespace tirsel::kvl::agent::driver::common
