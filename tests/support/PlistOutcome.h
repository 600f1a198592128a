#pragma once

#include <string>
#include <vector>

namespace grellan::testing {

// Which conversion PlistOutcome runs.
enum class PlistConverter {
    kReadXml,          // ReadXmlPlistParser, the reference
    kLibraryCopy,      // MacXMLToJSONParser from a const reference
    kLibraryInPlace,   // MacXMLToJSONParser from the moved text, as the fallback hands it over
    kLibraryTreeRules  // MacXMLToJSONParser's InsertValue over the tree read_xml built
};

// One parser over `text`; Parse of each of `paths` in turn into one output
// tree, then SearchNode for "unique-chip-id". The outcome tells every byte of
// the output tree and of the node found apart, and ends with the dynamic type
// and the message of the exception that stopped it, if one did.
std::string PlistOutcome(PlistConverter converter, const std::string& text,
                         const std::vector<std::string>& paths);

}  // namespace grellan::testing
