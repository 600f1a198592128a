#include "PlistOutcome.h"

#include <boost/property_tree/ptree.hpp>
#include <exception>
#include <stdexcept>
#include <typeinfo>

#include "ReadXmlPlistParser.h"
#include "common/plist/MacXMLToJSONParser.h"

namespace grellan::testing {

namespace {

namespace pt = boost::property_tree;

void Append(std::string& out, const std::string& bytes) {
    out += std::to_string(bytes.size()) + ":" + bytes;
}

void Describe(const pt::ptree& tree, std::string& out) {
    Append(out, tree.data());
    out += "{" + std::to_string(tree.size());
    for (const auto& entry : tree) {
        Append(out, entry.first);
        Describe(entry.second, out);
    }
    out += "}";
}

// The library's array and dictionary rules (InsertValue, LoadXMLData) over the
// tree read_xml builds, where Parse reads the text directly.
class LibraryRulesOverReadXml {
public:
    LibraryRulesOverReadXml(const std::string& text, pt::ptree& output)
        : reference(text, output), rules(std::string(), unused), output(output) {}

    void Parse(const std::string& path) {
        const boost::optional<const pt::ptree&> node =
            reference.Document().get_child_optional(path);
        if (!node) {
            throw std::logic_error("XML does not contain main tags");
        }
        pt::ptree converted;
        for (const auto& entry : *node) {
            rules.InsertValue(entry, converted);
        }
        output.push_back(pt::ptree::value_type("array", pt::ptree()))->second.swap(converted);
    }

    boost::optional<pt::ptree&> SearchNode(pt::ptree& tree, const std::string& key) {
        return rules.SearchNode(tree, key);
    }

private:
    ReadXmlPlistParser reference;
    pt::ptree unused;
    tirsel::kvl::agent::driver::common::MacXMLToJSONParser rules;
    pt::ptree& output;
};

template <typename Parser, typename Text>
std::string Run(Text&& text, const std::vector<std::string>& paths) {
    std::string out;
    pt::ptree tree;
    try {
        Parser parser(std::forward<Text>(text), tree);
        for (const std::string& path : paths) {
            try {
                parser.Parse(path);
                out += "parsed ";
            } catch (const std::exception& e) {
                // Parse leaves the parser usable: go on with the next path.
                out += std::string("parse threw ") + typeid(e).name() + " " + e.what() + " ";
            }
            Describe(tree, out);
        }
        const auto found = parser.SearchNode(tree, "unique-chip-id");
        out += found ? " found " + found->data() : std::string(" not found");
    } catch (const std::exception& e) {
        out += std::string("threw ") + typeid(e).name() + " " + e.what();
    }
    return out;
}

}  // namespace

std::string PlistOutcome(PlistConverter converter, const std::string& text,
                         const std::vector<std::string>& paths) {
    using tirsel::kvl::agent::driver::common::MacXMLToJSONParser;
    switch (converter) {
        case PlistConverter::kReadXml:
            return Run<ReadXmlPlistParser>(text, paths);
        case PlistConverter::kLibraryCopy:
            return Run<MacXMLToJSONParser>(text, paths);
        case PlistConverter::kLibraryInPlace:
            return Run<MacXMLToJSONParser>(std::string(text), paths);
        case PlistConverter::kLibraryTreeRules:
            return Run<LibraryRulesOverReadXml>(text, paths);
    }
    return std::string();
}

}  // namespace grellan::testing
