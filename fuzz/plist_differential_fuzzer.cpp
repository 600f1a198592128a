// Any text through the library's property-list conversion and through the
// read_xml-based reference: the outcomes (every output tree, the node found,
// the type and message of every exception) must be the same, whether the
// library gets the text by reference or moved, and when the library's rules
// (InsertValue) convert read_xml's tree instead; any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PlistOutcome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using grellan::testing::PlistConverter;
    using grellan::testing::PlistOutcome;
    // The fallback's path, then one more chosen by the input's size: the
    // document itself, nested and missing paths, attributes, comments.
    static const char* const kSecondPaths[] = {
        "plist",  "",    "plist.dict",      "plist.array.dict",
        "plist.", "a.b", "plist.<xmlattr>", "plist.<xmlcomment>"};
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> paths = {
        "plist", kSecondPaths[size % (sizeof kSecondPaths / sizeof kSecondPaths[0])]};
    const std::string expected = PlistOutcome(PlistConverter::kReadXml, text, paths);
    for (const PlistConverter converter :
         {PlistConverter::kLibraryCopy, PlistConverter::kLibraryInPlace,
          PlistConverter::kLibraryTreeRules}) {
        const std::string actual = PlistOutcome(converter, text, paths);
        if (actual != expected) {
            std::fprintf(stderr, "difference (converter %d)\nreference: %s\nlibrary:   %s\n",
                         static_cast<int>(converter), expected.c_str(), actual.c_str());
            std::abort();
        }
    }
    return 0;
}
