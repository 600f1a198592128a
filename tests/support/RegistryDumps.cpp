#include "RegistryDumps.h"

#include <cstdint>

namespace grellan::testing {

namespace {

// Base64 text of `bytes` pseudo-random bytes in lines of 76 characters, each
// line indented by `indent`, as ioreg -a writes a data property.
std::string DataLines(std::size_t bytes, const std::string& indent, std::uint32_t& state) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t symbols = (bytes + 2) / 3 * 4;
    std::string text;
    for (std::size_t i = 0; i < symbols; ++i) {
        if (i % 76 == 0) {
            text += (i == 0 ? "" : "\n") + indent;
        }
        state = state * 1103515245 + 12345;
        text += kAlphabet[(state >> 16) & 63];
    }
    return text + "\n";
}

// A dump of at least `size` bytes: top-level device nodes, each `depth`
// levels of three children deep, whose own properties `properties(indent)`
// appends to `out`, then the node holding the chip identifier near the end.
template <typename Properties>
std::string Dump(std::string& out, std::size_t size, int depth, Properties properties) {
    out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n";
    auto node = [&](auto&& self, int level, const std::string& indent) -> void {
        properties(indent);
        if (level > 0) {
            out += indent + "<key>IORegistryEntryChildren</key>\n" + indent + "<array>\n";
            for (int child = 0; child < 3; ++child) {
                out += indent + "\t<dict>\n";
                self(self, level - 1, indent + "\t\t");
                out += indent + "\t</dict>\n";
            }
            out += indent + "</array>\n";
        }
    };
    out += "\t<key>IORegistryEntryChildren</key>\n\t<array>\n";
    while (out.size() < size) {
        out += "\t\t<dict>\n";
        node(node, depth, "\t\t\t");
        out += "\t\t</dict>\n";
    }
    out +=
        "\t\t<dict>\n\t\t\t<key>IOObjectClass</key>\n\t\t\t<string>IOPlatformDevice</string>\n"
        "\t\t\t<key>unique-chip-id</key>\n\t\t\t<data>\n\t\t\tAQIDBAUGBwg=\n\t\t\t</data>\n"
        "\t\t</dict>\n";
    out +=
        "\t</array>\n\t<key>IOObjectClass</key>\n\t<string>IORegistryEntry</string>\n"
        "</dict>\n</plist>\n";
    return std::move(out);
}

}  // namespace

std::string DenseRegistryDump(std::size_t size) {
    std::string out;
    std::size_t entry = 0;
    return Dump(out, size, 4, [&out, &entry](const std::string& indent) {
        const std::string id = std::to_string(entry++);
        out += indent + "<key>IOObjectClass</key>\n" + indent + "<string>IOService</string>\n";
        out += indent + "<key>IORegistryEntryID</key>\n" + indent + "<integer>" +
               std::to_string(4294967296ULL + entry) + "</integer>\n";
        out += indent + "<key>IOObjectRetainCount</key>\n" + indent + "<integer>" +
               std::to_string(entry % 17) + "</integer>\n";
        out += indent + "<key>name</key>\n" + indent + "<data>\n" + indent + "ZGV2aWNlLQ" + "==\n" +
               indent + "</data>\n";
        out += indent + "<key>compatible</key>\n" + indent + "<data>\n" + indent +
               "YXBwbGUsZGV2aWNlLXR5cGUtMQBhcHBsZSxnZW5lcmljAA==\n" + indent + "</data>\n";
        out += indent + "<key>IOName</key>\n" + indent + "<string>device-" + id + "</string>\n";
        out += indent + "<key>IOBusyInterest</key>\n" + indent +
               "<string>IOCommand is not serializable</string>\n";
        out += indent + "<key>reg</key>\n" + indent + "<data>\n" + indent +
               "AAAAAAEAAAAAAAAAAEAAAAAAAAA=\n" + indent + "</data>\n";
        out += indent + "<key>IOPowerManagement</key>\n" + indent + "<dict>\n" + indent +
               "\t<key>CurrentPowerState</key>\n" + indent + "\t<integer>2</integer>\n" + indent +
               "\t<key>DevicePowerState</key>\n" + indent + "\t<integer>2</integer>\n" + indent +
               "\t<key>CapabilityFlags</key>\n" + indent + "\t<integer>32768</integer>\n" + indent +
               "\t<key>IsUsable</key>\n" + indent + "\t<true/>\n" + indent + "</dict>\n";
    });
}

std::string RealisticRegistryDump(std::size_t size) {
    std::string out;
    std::uint32_t state = 2024;
    std::size_t entry = 0;
    auto data = [&out, &state](const std::string& indent, const std::string& key,
                               std::size_t bytes) {
        out += indent + "<key>" + key + "</key>\n" + indent + "<data>\n" +
               DataLines(bytes, indent, state) + indent + "</data>\n";
    };
    return Dump(out, size, 3, [&](const std::string& indent) {
        ++entry;
        out += indent + "<key>IOObjectClass</key>\n" + indent + "<string>IOService</string>\n";
        out += indent + "<key>IORegistryEntryID</key>\n" + indent + "<integer>" +
               std::to_string(4294967296ULL + entry) + "</integer>\n";
        out += indent + "<key>IOObjectRetainCount</key>\n" + indent + "<integer>" +
               std::to_string(entry % 17) + "</integer>\n";
        out += indent + "<key>IOName</key>\n" + indent + "<string>device-" + std::to_string(entry) +
               "</string>\n";
        data(indent, "name", 12);
        data(indent, "compatible", 48);
        data(indent, "AAPL,phandle", 4);
        data(indent, "reg", 16 + entry % 4 * 32);
        data(indent, "interrupts", 24);
        // Every third node carries a large table or blob.
        if (entry % 3 == 0) {
            data(indent, "function-calibration", 1024 + entry % 5 * 1024);
        }
    });
}

}  // namespace grellan::testing
