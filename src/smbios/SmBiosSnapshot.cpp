// The snapshot text: the held bytes as padded Base64, and tables rebuilt from it.

#include <stdexcept>

#include "common/Base64Coder.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::smbios {

using common::Base64Coder;

namespace {

[[noreturn]] void ThrowNotLoaded() {
    throw std::logic_error("SmBios can not be loaded");
}

}  // namespace

// The text is kept verbatim: two texts that decode to the same bytes but
// differ as texts (characters after the padding) make unequal objects.
SmBios::SmBios(const std::string& text) : encoded(text) {
    DecodeBinaryData();
    if (data.size() < kTablePrefixSize) {
        data.clear();
        ThrowNotLoaded();
    }
    Map();
}

void SmBios::EncodeBinaryData() {
    if (data.empty()) {
        ThrowNotLoaded();
    }
    encoded = Base64Coder::Encode(data.data(), data.size());
}

void SmBios::DecodeBinaryData() {
    if (encoded.empty()) {
        ThrowNotLoaded();
    }
    data = Base64Coder::Decode(encoded);
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
