#include "BenchInputs.h"

#include <algorithm>

#include "MemoryImage.h"
#include "RegistryDumps.h"
#include "TableBuilder.h"

namespace grellan::bench {

namespace {

Bytes Formatted(std::size_t length,
                std::initializer_list<std::pair<std::size_t, std::uint8_t>> at) {
    Bytes formatted(length - 4, 0);
    for (const auto& [offset, value] : at) {
        formatted[offset - 4] = value;
    }
    return formatted;
}

}  // namespace

Bytes BenchInputs::RealisticTable() {
    grellan::testing::TableBuilder t;
    std::uint16_t handle = 0;
    t.Add(0, handle++, Formatted(0x1A, {{0x04, 1}, {0x05, 2}, {0x08, 3}}),
          {"Apple Inc.", "1916.80.2.0.0 (iBridge: 20.16.4252.0.0,0)", "03/06/2026"});
    t.Add(1, handle++,
          Formatted(0x1B, {{0x04, 1}, {0x05, 2}, {0x06, 3}, {0x07, 4}, {0x19, 5}, {0x1A, 6}}),
          {"Apple Inc.", "MacBookPro16,1", "1.0", "C02XK0AAJGH5", "System SKU#", "Mac"});
    t.Add(2, handle++, Formatted(0x0F, {{0x04, 1}, {0x05, 2}, {0x07, 3}, {0x08, 4}, {0x0A, 5}}),
          {"Apple Inc.", "Mac-E1008331FDC96864", "C0290250NQ7GWJHAB", "Base Board Asset Tag",
           "Part Component"});
    t.Add(3, handle++, Formatted(0x15, {{0x04, 1}, {0x05, 0x0A}, {0x06, 2}, {0x07, 3}, {0x08, 4}}),
          {"Apple Inc.", "Mac-E1008331FDC96864", "C02XK0AAJGH5", "Asset Tag#"});
    for (int cpu = 0; cpu < 2; ++cpu) {
        t.Add(4, handle++,
              Formatted(0x30, {{0x04, 1}, {0x07, 2}, {0x10, 3}, {0x20, 4}, {0x21, 5}, {0x22, 6}}),
              {"U3E1", "Intel(R) Corporation", "Intel(R) Core(TM) i9-9880H CPU @ 2.30GHz",
               cpu == 0 ? "0000-0000-0000-0001" : "0000-0000-0000-0002", "To Be Filled By O.E.M.",
               "To Be Filled By O.E.M."});
    }
    for (int cache = 0; cache < 6; ++cache) {
        t.Add(7, handle++, Formatted(0x1B, {{0x04, 1}}),
              {"L" + std::to_string(cache % 3 + 1) + " Cache"});
    }
    for (int slot = 0; slot < 8; ++slot) {
        t.Add(9, handle++, Formatted(0x11, {{0x04, 1}}), {"PCI Slot " + std::to_string(slot)});
    }
    for (int dimm = 0; dimm < 8; ++dimm) {
        t.Add(17, handle++,
              Formatted(0x28, {{0x10, 1}, {0x11, 2}, {0x17, 3}, {0x18, 4}, {0x19, 5}, {0x1A, 6}}),
              {"DIMM" + std::to_string(dimm), "BANK " + std::to_string(dimm / 2), "Micron",
               "3C1B" + std::to_string(1000 + dimm), "Asset Tag", "MT40A1G16KD-062E:E"});
    }
    while (t.Table().size() < 4096 - 64) {
        t.Add(11, handle++, Formatted(0x05, {{0x04, 4}}),
              {"OEM string one", "OEM string two", "OEM string three", "Apple ROM Info"});
    }
    t.Add(127, handle++, {}, {});
    return t.Table();
}

Bytes BenchInputs::RegistryEntryPoint(const Bytes& table) {
    return grellan::testing::EntryPoint21(2, 8, static_cast<std::uint16_t>(table.size()), 0, 0x28);
}

Bytes BenchInputs::MemoryImage(const Bytes& table) {
    constexpr std::size_t kTableAddress = 0xF1000;
    constexpr std::size_t kEntryPoint = 0xFA000;
    Bytes image(0x100000, 0);
    std::copy(table.begin(), table.end(), image.begin() + kTableAddress);
    // dmidecode reads as many structures as the entry point counts.
    std::uint16_t structures = 0;
    for (std::size_t at = 0; at + 4 <= table.size(); ++structures) {
        at += table[at + 1];
        while (at + 1 < table.size() && (table[at] != 0 || table[at + 1] != 0)) {
            ++at;
        }
        at += 2;
    }
    const Bytes ep = grellan::testing::EntryPoint21(2, 8, static_cast<std::uint16_t>(table.size()),
                                                    kTableAddress, 0x28, true, structures);
    std::copy(ep.begin(), ep.end(), image.begin() + kEntryPoint);
    return image;
}

std::string BenchInputs::Base64Text(std::size_t size) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve(size + size / 60 * 2);
    std::uint32_t state = 12345;
    while (text.size() < size) {
        text += "\t\t";
        for (int i = 0; i < 60 && text.size() < size; ++i) {
            state = state * 1103515245 + 12345;
            text += kAlphabet[(state >> 16) & 63];
        }
        text += '\n';
    }
    return text;
}

std::string BenchInputs::RegistryDump(std::size_t size) {
    return grellan::testing::DenseRegistryDump(size);
}

}  // namespace grellan::bench
