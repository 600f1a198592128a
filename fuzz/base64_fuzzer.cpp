// Base64Coder's three operations against a plain reference decoder that
// follows the same cleaning and stopping rules.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/Base64Coder.h"

namespace {

int Value(unsigned char c) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c == 0 ? nullptr : std::strchr(kAlphabet, c);
    return at == nullptr ? -1 : static_cast<int>(at - kAlphabet);
}

bool IsBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::vector<unsigned char> Reference(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && IsBlank(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    std::string cleaned;
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] != '\t' && text[i] != '\n' && text[i] != ' ') {
            cleaned += text[i];
        }
    }
    std::vector<unsigned char> out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : cleaned) {
        const int v = Value(static_cast<unsigned char>(c));
        if (v < 0) {
            break;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<unsigned char>(bits >> count));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tirsel::kvl::agent::driver::common::Base64Coder;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Base64Coder coder;
    const std::vector<unsigned char> bytes = coder.DecodeBytes(text);
    if (bytes != Reference(text)) {
        __builtin_trap();
    }
    // The runs hold exactly the printable bytes, in order.
    std::string printable;
    for (const unsigned char b : bytes) {
        if (b >= 0x20 && b <= 0x7E) {
            printable += static_cast<char>(b);
        }
    }
    std::string joined;
    for (const std::string& run : coder.DecodeStringBytes(text)) {
        joined += run;
    }
    if (joined != printable) {
        __builtin_trap();
    }
    std::uint64_t expected = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) {
        expected |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    }
    if (coder.DecodeInteger(text) != expected) {
        __builtin_trap();
    }
    return 0;
}
