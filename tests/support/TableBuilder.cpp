#include "TableBuilder.h"

namespace grellan::testing {

TableBuilder& TableBuilder::Add(std::uint8_t type, std::uint16_t handle, const Bytes& formatted,
                                const std::vector<std::string>& strings) {
    table.push_back(type);
    table.push_back(static_cast<std::uint8_t>(4 + formatted.size()));
    table.push_back(static_cast<std::uint8_t>(handle & 0xFF));
    table.push_back(static_cast<std::uint8_t>(handle >> 8));
    table.insert(table.end(), formatted.begin(), formatted.end());
    for (const std::string& s : strings) {
        table.insert(table.end(), s.begin(), s.end());
        table.push_back(0);
    }
    if (strings.empty()) {
        table.push_back(0);
    }
    table.push_back(0);
    return *this;
}

TableBuilder& TableBuilder::AddSerial(std::uint8_t type, std::uint16_t handle,
                                      const std::string& serial) {
    const std::size_t offset = type == 4 ? 0x20 : 0x07;
    const std::size_t length = type == 4 ? 0x23 : 0x08;
    Bytes formatted(length - 4, 0);
    if (!serial.empty()) {
        formatted[offset - 4] = 1;
        return Add(type, handle, formatted, {serial});
    }
    return Add(type, handle, formatted);
}

TableBuilder& TableBuilder::AddEnd(std::uint16_t handle) {
    return Add(127, handle, {});
}

TableBuilder& TableBuilder::AddRaw(const Bytes& bytes) {
    table.insert(table.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes TableBuilder::HeldBytes(std::uint8_t major, std::uint8_t minor, const Bytes& table,
                              std::uint8_t revision, std::optional<std::uint32_t> statedLength) {
    const std::uint32_t length = statedLength.value_or(static_cast<std::uint32_t>(table.size()));
    Bytes held = {0,
                  major,
                  minor,
                  revision,
                  static_cast<std::uint8_t>(length),
                  static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length >> 16),
                  static_cast<std::uint8_t>(length >> 24)};
    held.resize(16, 0);
    held.insert(held.end(), table.begin(), table.end());
    return held;
}

std::string TableBuilder::Base64(const Bytes& bytes) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t v = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace grellan::testing
