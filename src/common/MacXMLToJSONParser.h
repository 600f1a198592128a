#pragma once

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <string>
#include <utility>

namespace tirsel::kvl::agent::driver::common {

// Converts property-list XML (as printed by macOS tools) into a property tree:
// dictionaries become keyed entries, arrays unnamed entries.
class MacXMLToJSONParser {
public:
    // Deepest element nesting (the root element is level 1) the reader accepts.
    static constexpr std::size_t kMaxNestingDepth = 512;

    // Prepares `text` (drops the lines before the first one starting with '<'
    // and joins the rest without separators) and reads it as XML.
    // Throws xml_parser_error on malformed XML and std::logic_error
    // "XML nesting too deep" for elements deeper than kMaxNestingDepth.
    MacXMLToJSONParser(const std::string& text, boost::property_tree::ptree& output);
    // The same, preparing and reading the text in its own buffer, without a copy.
    MacXMLToJSONParser(std::string&& text, boost::property_tree::ptree& output);

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
    void Read();
    void ReadDocument();

    // The prepared text and a final zero byte. It is converted as it is read
    // (no tree of the whole document is built) unless it holds something only
    // Boost's XML reader handles exactly (malformed XML among others); then the
    // reader's generic tree is built as read_xml builds it, and converted.
    std::string text;
    bool readDirectly = true;
    boost::property_tree::ptree document;
    boost::property_tree::ptree& output;
};

}  // namespace tirsel::kvl::agent::driver::common
