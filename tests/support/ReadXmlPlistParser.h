#pragma once

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <string>

namespace grellan::testing {

// The property-list conversion done the plain way, sharing no code with the
// library: read_xml builds the generic XML tree of the whole prepared text,
// which the rules then convert. The reference the library's conversion must
// match in every result and every error (PlistOutcome, the differential fuzzer).
class ReadXmlPlistParser {
public:
    // Deepest element nesting (the root element is level 1) the reader accepts.
    static constexpr std::size_t kMaxNestingDepth = 512;

    // Prepares `text` (drops the lines before the first one starting with '<'
    // and joins the rest without separators) and reads it with read_xml.
    // Throws its xml_parser_error on malformed XML and std::logic_error "XML
    // nesting too deep" for an element deeper than kMaxNestingDepth that comes
    // before read_xml's first error, a refused character reference aside.
    //
    // How the limit is modelled without a reader of its own: a plain count
    // finds the first tag that would lie too deep were the text well formed up
    // to it; read_xml then reads the text up to that tag, its references made
    // harmless and the open elements closed. It reads it when nothing before
    // the tag ends the reading; the tree it builds must then nest that deep,
    // or the count is wrong and the reference says so (std::runtime_error).
    ReadXmlPlistParser(const std::string& text, boost::property_tree::ptree& output);

    // Converts the node at `path` by the array rule and appends the result to the
    // output tree under "array".
    void Parse(const std::string& path);

    // Looks `key` up in `tree`, then in each entry's node in order, depth first.
    boost::optional<boost::property_tree::ptree&> SearchNode(boost::property_tree::ptree& tree,
                                                             const std::string& key);

    // The tree read_xml built.
    const boost::property_tree::ptree& Document() const { return document; }

private:
    boost::property_tree::ptree document;
    boost::property_tree::ptree& output;
};

}  // namespace grellan::testing
