// Any text through the property-list parser: only its documented exceptions
// may escape (malformed XML, the parser's own logic errors, failed number
// conversions); anything else, or a crash, is a finding.
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/plist/MacXMLToJSONParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tirsel::kvl::agent::driver::common::MacXMLToJSONParser;
    const std::string text(reinterpret_cast<const char*>(data), size);
    boost::property_tree::ptree tree;
    try {
        MacXMLToJSONParser parser(text, tree);
        parser.Parse("plist");
        const auto found = parser.SearchNode(tree, "unique-chip-id");
        if (found) {
            (void)found->data().size();
        }
    } catch (const boost::property_tree::xml_parser::xml_parser_error&) {
    } catch (const boost::property_tree::ptree_bad_data&) {
    } catch (const std::logic_error&) {
    }
    return 0;
}
