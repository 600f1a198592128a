// The snapshot text: the held bytes as padded Base64, and tables rebuilt from it.

#include <boost/beast/core/detail/base64.hpp>
#include <stdexcept>

#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::smbios {

namespace base64 = boost::beast::detail::base64;

namespace {

[[noreturn]] void ThrowNotLoaded() {
    throw std::logic_error("SmBios can not be loaded");
}

}  // namespace

SmBios::SmBios(const std::string& text) {
    Clear();
    encoded = text;
    DecodeBinaryData();
    if (data.size() < kTablePrefixSize) {
        data.clear();
        ThrowNotLoaded();
    }
    try {
        Map();
    } catch (...) {
        Clear();  // the destructor does not run for a constructor that throws
        throw;
    }
}

void SmBios::EncodeBinaryData() {
    if (data.empty()) {
        ThrowNotLoaded();
    }
    encoded.resize(base64::encoded_size(data.size()));
    encoded.resize(base64::encode(encoded.data(), data.data(), data.size()));
}

void SmBios::DecodeBinaryData() {
    if (encoded.empty()) {
        ThrowNotLoaded();
    }
    data.clear();
    // A text whose length is not a multiple of four holds up to two bytes
    // beyond its complete groups.
    std::vector<unsigned char> decoded(encoded.size() / 4 * 3 + 2);
    const std::size_t written =
        base64::decode(decoded.data(), encoded.data(), encoded.size()).first;
    data.reserve(written);
    data.insert(data.end(), decoded.begin(),
                decoded.begin() + static_cast<std::ptrdiff_t>(written));
}

bool SmBios::operator==(const SmBios& other) const {
    return encoded == other.encoded;
}

bool SmBios::operator!=(const SmBios& other) const {
    return !(*this == other);
}

std::ostream& operator<<(std::ostream& os, const SmBios& table) {
    return os << table.SnapshotText();
}

}  // namespace tirsel::kvl::agent::driver::smbios
