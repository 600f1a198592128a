#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::common {

// Decodes the Base64 text found in property-list <data> elements (indented,
// broken over lines). Stateless; no input makes it fail.
class Base64Coder {
public:
    // Trims the text, drops every tab, line feed and blank inside it, then
    // decodes up to the first '=' or byte outside the alphabet.
    std::vector<unsigned char> DecodeBytes(std::string text);
    // The decoded bytes cut into runs of printable characters (0x20..0x7E).
    std::vector<std::string> DecodeStringBytes(const std::string& text);
    // The first eight decoded bytes (zero-padded) as a little-endian integer.
    std::uint64_t DecodeInteger(const std::string& text);
};

}  // namespace tirsel::kvl::agent::driver::common
