// Command-line helper of the benchmark script:
//   grellan_bench_tool inputs DIR   writes registry-dump.plist and memory.img
//   grellan_bench_tool parse FILE   parses a registry dump and searches it once
//   grellan_bench_tool scan IMAGE   computes the fingerprint over a memory image
//   grellan_bench_tool memory dense|realistic MIB
//                                   the host's peak while a fake ioreg prints a
//                                   registry dump of about MIB MiB and it is
//                                   converted and searched, as the fallback does,
//                                   by the library and by the read_xml-based
//                                   conversion it replaced
// so that whole processes can be timed and their peak memory measured.
#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "BenchInputs.h"
#include "CommandSettingsOverride.h"
#include "FirmwarePathsOverride.h"
#include "HostPeak.h"
#include "ReadXmlPlistParser.h"
#include "RegistryDumps.h"
#include "TempDir.h"
#include "common/plist/MacXMLToJSONParser.h"
#include "grellan/grellan.h"
#include "platform/CommandRunner.h"

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

// The registry dump command's output, converted from "plist" and searched by `Parser`,
// which gets the output as SerialLoader hands it over.
template <typename Parser, typename Handover>
std::string ConvertDump(Handover&& handover) {
    const platform::CommandSettings& settings = platform::CurrentCommandSettings();
    platform::CommandResult result = platform::CommandRunner::Run(
        {"ioreg -a  -l -p IODeviceTree -c IORegistryEntry", std::string()}, settings,
        settings.ToolEnvironment());
    boost::property_tree::ptree tree;
    Parser parser(handover(result.output), tree);
    parser.Parse("plist");
    const auto found = parser.SearchNode(tree, "unique-chip-id");
    return found ? found->data() : std::string("(not found)");
}

int Memory(const std::string& kind, const std::string& mebibytes) {
    const std::size_t size = std::stoul(mebibytes) << 20;
    const grellan::testing::TempDir tools;
    std::size_t written = 0;
    {
        const std::string dump = kind == "dense" ? grellan::testing::DenseRegistryDump(size)
                                                 : grellan::testing::RealisticRegistryDump(size);
        written = dump.size();
        tools.WriteScript("ioreg", "exec cat '" + tools.Write("dump.plist", dump) + "'\n");
    }
    const platform::ScopedCommandSettings commands(platform::WithToolDirectory(tools.Path()));
    using grellan::testing::ReadXmlPlistParser;
    using tirsel::kvl::agent::driver::common::MacXMLToJSONParser;
    const std::pair<const char*, grellan::testing::HostRun> runs[] = {
        {"read_xml", grellan::testing::RunInHost([] {
             return ConvertDump<ReadXmlPlistParser>(
                 [](std::string& output) -> const std::string& { return output; });
         })},
        {"library", grellan::testing::RunInHost([] {
             return ConvertDump<MacXMLToJSONParser>(
                 [](std::string& output) { return std::move(output); });
         })}};
    for (const auto& [name, run] : runs) {
        std::printf(
            "%s %s dump %.1f MiB: host peak %.1f MiB above baseline, %.2f times the dump "
            "[%s]\n",
            name, kind.c_str(), static_cast<double>(written) / (1 << 20),
            static_cast<double>(run.peakBytes) / (1 << 20),
            static_cast<double>(run.peakBytes) / static_cast<double>(written), run.result.c_str());
    }
    return runs[0].second.peakBytes < 0 || runs[1].second.peakBytes < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "memory") == 0) {
        return Memory(argv[2], argv[3]);
    }
    if (argc != 3) {
        std::cerr << "usage: grellan_bench_tool inputs DIR | parse FILE | scan IMAGE | "
                     "memory dense|realistic MIB\n";
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
        // Handed over as the fallback hands over the command output.
        tirsel::kvl::agent::driver::common::MacXMLToJSONParser parser(std::move(dump), tree);
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
