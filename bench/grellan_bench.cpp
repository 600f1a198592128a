// Benchmarks of the library's hot paths, each on generated inputs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <boost/property_tree/ptree.hpp>
#include <cstdlib>
#include <string>

#include "BenchInputs.h"
#include "FirmwarePathsOverride.h"
#include "RegistryStandIn.h"
#include "common/Base64Coder.h"
#include "common/MacXMLToJSONParser.h"
#include "grellan/grellan.h"

namespace {

using grellan::bench::BenchInputs;
using grellan::bench::Bytes;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;
namespace common = tirsel::kvl::agent::driver::common;

std::string WriteTemp(const Bytes& bytes) {
    char pattern[] = "/tmp/grellan-bench-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::abort();
    }
    close(fd);
    return pattern;
}

void BM_GetHardwareHash_Registry4KiB(benchmark::State& state) {
    const standin::ScopedRegistry registry;
    const platform::ScopedFirmwarePaths scoped(platform::WithoutMemoryDevice());
    const Bytes table = BenchInputs::RealisticTable();
    standin::SetDataProperty("AppleSMBIOS", "SMBIOS-EPS", BenchInputs::RegistryEntryPoint(table));
    standin::SetDataProperty("AppleSMBIOS", "SMBIOS", table);
    char buffer[256];
    for (auto _ : state) {
        GetHardwareHash(buffer, sizeof buffer);
        benchmark::DoNotOptimize(buffer);
    }
    state.SetLabel(std::to_string(table.size()) + "-byte table");
}
BENCHMARK(BM_GetHardwareHash_Registry4KiB)->Unit(benchmark::kMicrosecond);

void BM_GetHardwareHash_LegacyScan1MiB(benchmark::State& state) {
    const std::string image = WriteTemp(BenchInputs::MemoryImage(BenchInputs::RealisticTable()));
    const platform::ScopedFirmwarePaths scoped(platform::MemoryDeviceAt(image));
    char buffer[256];
    for (auto _ : state) {
        GetHardwareHash(buffer, sizeof buffer);
        benchmark::DoNotOptimize(buffer);
    }
    unlink(image.c_str());
}
BENCHMARK(BM_GetHardwareHash_LegacyScan1MiB)->Unit(benchmark::kMillisecond);

void BM_FallbackParseAndSearch5MB(benchmark::State& state) {
    const std::string dump = BenchInputs::RegistryDump(5 * 1000 * 1000);
    for (auto _ : state) {
        boost::property_tree::ptree tree;
        common::MacXMLToJSONParser parser(dump, tree);
        parser.Parse("plist");
        const auto found = parser.SearchNode(tree, "unique-chip-id");
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(BM_FallbackParseAndSearch5MB)->Unit(benchmark::kMillisecond);

void BM_DecodeBytes1MiB(benchmark::State& state) {
    const std::string text = BenchInputs::Base64Text(1 << 20);
    common::Base64Coder coder;
    for (auto _ : state) {
        benchmark::DoNotOptimize(coder.DecodeBytes(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeBytes1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
