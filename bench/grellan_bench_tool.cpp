// Command-line helper of the benchmark script:
//   grellan_bench_tool inputs DIR   writes registry-dump.plist and memory.img
//   grellan_bench_tool parse FILE   parses a registry dump and searches it once
//   grellan_bench_tool scan IMAGE   computes the fingerprint over a memory image
// so that whole processes can be timed and their peak memory measured.
#include <boost/property_tree/ptree.hpp>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "BenchInputs.h"
#include "FirmwarePathsOverride.h"
#include "common/MacXMLToJSONParser.h"
#include "grellan/grellan.h"

namespace {

using grellan::bench::BenchInputs;
namespace platform = tirsel::kvl::agent::driver::platform;

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

// Reads the whole file at once: the timing is about the parser, not about reading.
bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    return static_cast<bool>(in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: grellan_bench_tool inputs DIR | parse FILE | scan IMAGE\n";
        return 1;
    }
    const std::string command = argv[1];
    const std::string path = argv[2];
    if (command == "inputs") {
        const auto image = BenchInputs::MemoryImage(BenchInputs::RealisticTable());
        const bool ok =
            WriteFile(path + "/registry-dump.plist", BenchInputs::RegistryDump(5 * 1000 * 1000)) &&
            WriteFile(path + "/memory.img", std::string(image.begin(), image.end()));
        return ok ? 0 : 1;
    }
    if (command == "parse") {
        std::string dump;
        if (!ReadFile(path, dump)) {
            std::cerr << "cannot read " << path << "\n";
            return 1;
        }
        boost::property_tree::ptree tree;
        tirsel::kvl::agent::driver::common::MacXMLToJSONParser parser(dump, tree);
        parser.Parse("plist");
        const auto found = parser.SearchNode(tree, "unique-chip-id");
        std::cout << (found ? found->data() : std::string("(not found)")) << "\n";
        return found ? 0 : 1;
    }
    if (command == "scan") {
        const platform::ScopedFirmwarePaths scoped(platform::MemoryDeviceAt(path));
        char buffer[33];
        GetHardwareHash(buffer, sizeof buffer);
        std::cout << buffer << "\n";
        return buffer[0] != '\0' ? 0 : 1;
    }
    std::cerr << "unknown command " << command << "\n";
    return 1;
}
