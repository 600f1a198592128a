#include "common/Base64Coder.h"

#include <algorithm>
#include <boost/beast/core/detail/base64.hpp>
#include <cstddef>

#include "common/TirselFunctions.h"

namespace tirsel::kvl::agent::driver::common {

namespace base64 = boost::beast::detail::base64;

namespace {

// Printable in the "C" locale; bytes from 0x80 up never are, whatever locale is set.
bool IsPrintable(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// Drops the outer white space (the "C" locale's, whatever locale the host has set), then
// every tab, line feed and blank inside. Carriage returns, vertical tabs and form feeds
// inside the text stay and end decoding there.
void Clean(std::string& text) {
    TirselFunctions::trim(text);
    for (const char dropped : {'\t', '\n', ' '}) {
        text.erase(std::remove(text.begin(), text.end(), dropped), text.end());
    }
}

}  // namespace

std::vector<unsigned char> Base64Coder::DecodeBytes(std::string text) {
    Clean(text);
    return Decode(text);
}

std::string Base64Coder::Encode(const unsigned char* bytes, std::size_t size) {
    std::string text(base64::encoded_size(size), '\0');
    text.resize(base64::encode(text.data(), bytes, size));
    return text;
}

std::vector<unsigned char> Base64Coder::Decode(const std::string& text) {
    // One allocation for the most the text can give: three bytes per complete
    // group and up to two from a final incomplete one; cut to what was written.
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 2);
    const signed char* const inverse = base64::get_inverse();

    std::size_t written = 0;
    unsigned char group[4] = {0, 0, 0, 0};
    std::size_t symbols = 0;
    for (const char c : text) {
        const signed char value = inverse[static_cast<unsigned char>(c)];
        // '=' is outside the alphabet, so the first pad character also ends the scan.
        if (value < 0) {
            break;
        }
        group[symbols++] = static_cast<unsigned char>(value);
        if (symbols == 4) {
            bytes[written++] = static_cast<unsigned char>((group[0] << 2) | (group[1] >> 4));
            bytes[written++] =
                static_cast<unsigned char>(((group[1] & 0x0F) << 4) | (group[2] >> 2));
            bytes[written++] = static_cast<unsigned char>(((group[2] & 0x03) << 6) | group[3]);
            symbols = 0;
        }
    }
    // An incomplete group: two symbols give one byte, three give two, one gives none.
    if (symbols >= 2) {
        bytes[written++] = static_cast<unsigned char>((group[0] << 2) | (group[1] >> 4));
    }
    if (symbols == 3) {
        bytes[written++] = static_cast<unsigned char>(((group[1] & 0x0F) << 4) | (group[2] >> 2));
    }

    bytes.resize(written);
    return bytes;
}

std::vector<std::string> Base64Coder::DecodeStringBytes(const std::string& text) {
    const std::vector<unsigned char> bytes = DecodeBytes(text);

    std::vector<std::string> runs;
    std::string run;
    for (const unsigned char byte : bytes) {
        if (IsPrintable(byte)) {
            run.push_back(static_cast<char>(byte));
        } else {
            // Every unprintable byte closes a run, even an empty one.
            runs.push_back(std::move(run));
            run.clear();
        }
    }
    if (!run.empty()) {
        runs.push_back(std::move(run));
    }
    return runs;
}

std::uint64_t Base64Coder::DecodeInteger(const std::string& text) {
    std::vector<unsigned char> bytes = DecodeBytes(text);
    bytes.resize(std::max<std::size_t>(bytes.size(), 8), 0);

    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

}  // namespace tirsel::kvl::agent::driver::common
