#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::common {

// The library's one Base64 module: standard alphabet, '=' padding. Decoding
// stops at the first '=' or byte outside the alphabet and never fails; a final
// group of two or three symbols gives one or two bytes, a lone symbol none.
//
// The three member operations decode the text found in property-list <data>
// elements (indented, broken over lines): the fallback decodes the chip
// identifier with DecodeStringBytes, which decodes with DecodeBytes.
// DecodeInteger reads such data as the little-endian number it stores (the
// chip identifier as the ECID number Apple's tools print); the fingerprint
// does not use it, base64_fuzzer and Base64CoderTest hold it to its rule.
// Stateless.
class Base64Coder {
public:
    // Trims the text, drops every tab, line feed and blank inside it, then
    // decodes it.
    std::vector<unsigned char> DecodeBytes(std::string text);
    // The decoded bytes cut into runs of printable characters (0x20..0x7E).
    std::vector<std::string> DecodeStringBytes(const std::string& text);
    // The first eight decoded bytes (zero-padded) as a little-endian integer.
    std::uint64_t DecodeInteger(const std::string& text);

    // `size` bytes as padded Base64 text, without line breaks.
    static std::string Encode(const unsigned char* bytes, std::size_t size);
    // `text` decoded as it stands: white space is a byte outside the alphabet.
    static std::vector<unsigned char> Decode(const std::string& text);
};

}  // namespace tirsel::kvl::agent::driver::common
