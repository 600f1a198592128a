#pragma once

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <string>
#include <utility>

namespace grellan::testing {

// The property-list conversion as the library made it before it converted
// the text as it reads it: read_xml builds the generic XML tree of the whole
// text, which is then converted. Kept as the reference the library's conversion must match in
// every result and every error (PlistOutcome, the differential fuzzer).
class ReadXmlPlistParser {
public:
    // Deepest element nesting (the root element is level 1) the reader accepts.
    static constexpr std::size_t kMaxNestingDepth = 512;

    // Prepares `text` (drops the lines before the first one starting with '<'
    // and joins the rest without separators) and reads it as XML.
    // Throws xml_parser_error on malformed XML and std::logic_error
    // "XML nesting too deep" for elements deeper than kMaxNestingDepth.
    ReadXmlPlistParser(const std::string& text, boost::property_tree::ptree& output);

    // Converts the node at `path` and appends it to the output tree as "array".
    void Parse(const std::string& path);

    // First node of `key` in pre-order, a node's own entries before its
    // children's; empty when there is none.
    boost::optional<boost::property_tree::ptree&> SearchNode(boost::property_tree::ptree& tree,
                                                             const std::string& key);

    void InsertValue(const std::pair<const std::string, boost::property_tree::ptree>& element,
                     boost::property_tree::ptree& target);
    void LoadXMLData(const boost::property_tree::ptree& dict, boost::property_tree::ptree& target);

private:
    boost::property_tree::ptree document;
    boost::property_tree::ptree& output;
};

}  // namespace grellan::testing
