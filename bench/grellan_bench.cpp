// Benchmarks of the library's hot paths, each on generated inputs.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "BenchInputs.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "FirmwarePathsOverride.h"
#include "RegistryStandIn.h"
#include "RegistryTable.h"
#include "business/HwHashCalculator.h"
#include "common/Base64Coder.h"
#include "common/plist/MacXMLToJSONParser.h"
#include "grellan/grellan.h"
#include "smbios/SmBios.h"
#include "smbios/SmBiosUnix.h"

namespace {

using grellan::bench::BenchInputs;
using grellan::bench::Bytes;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;
namespace common = tirsel::kvl::agent::driver::common;
namespace business = tirsel::kvl::agent::driver::business;
namespace smbios = tirsel::kvl::agent::driver::smbios;

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
    grellan::testing::PutRegistryTable(BenchInputs::RegistryEntryPoint(table), table);
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
BENCHMARK(BM_GetHardwareHash_LegacyScan1MiB)->Unit(benchmark::kMicrosecond);

// The parts of that call: the scan alone; the table object (scan, index and
// snapshot text); the digest of the serials the table gives.
void BM_LegacyScanOnly1MiB(benchmark::State& state) {
    const std::string image = WriteTemp(BenchInputs::MemoryImage(BenchInputs::RealisticTable()));
    const platform::ScopedFirmwarePaths scoped(platform::MemoryDeviceAt(image));
    for (auto _ : state) {
        smbios::SmBiosUnix scan;
        benchmark::DoNotOptimize(scan.GetSystemFirmwareTable());
    }
    unlink(image.c_str());
}
BENCHMARK(BM_LegacyScanOnly1MiB)->Unit(benchmark::kMicrosecond);

void BM_TableFromMemory1MiB(benchmark::State& state) {
    const std::string image = WriteTemp(BenchInputs::MemoryImage(BenchInputs::RealisticTable()));
    const platform::ScopedFirmwarePaths scoped(platform::MemoryDeviceAt(image));
    for (auto _ : state) {
        const smbios::SmBios table;
        benchmark::DoNotOptimize(table.loaded);
    }
    unlink(image.c_str());
}
BENCHMARK(BM_TableFromMemory1MiB)->Unit(benchmark::kMicrosecond);

void BM_SerialsAndDigest(benchmark::State& state) {
    const std::string image = WriteTemp(BenchInputs::MemoryImage(BenchInputs::RealisticTable()));
    const platform::ScopedFirmwarePaths scoped(platform::MemoryDeviceAt(image));
    const smbios::SmBios table;
    unlink(image.c_str());
    business::HwHashCalculator calculator;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            business::HwHashCalculator::HashText(calculator.SerialsFromTable(table)));
    }
}
BENCHMARK(BM_SerialsAndDigest)->Unit(benchmark::kMicrosecond);

// References for the scan: the bytes of the legacy area, read at every
// 16-byte step, once through a mapping as the scan reads them and once
// through pread into a buffer.
constexpr std::size_t kLegacyArea = 0x20000;
constexpr off_t kLegacyStart = 0xE0000;

unsigned CountAnchors(const unsigned char* bytes) {
    unsigned anchors = 0;
    for (std::size_t at = 0; at + 16 <= kLegacyArea; at += 16) {
        anchors += std::memcmp(bytes + at, "_SM_", 4) == 0 ? 1 : 0;
    }
    return anchors;
}

void BM_ReferenceMapLegacyArea(benchmark::State& state) {
    const std::string image = WriteTemp(BenchInputs::MemoryImage(BenchInputs::RealisticTable()));
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    for (auto _ : state) {
        void* mapped = mmap(nullptr, kLegacyArea, PROT_READ, MAP_SHARED, fd, kLegacyStart);
        if (mapped == MAP_FAILED) {
            std::abort();
        }
        benchmark::DoNotOptimize(CountAnchors(static_cast<const unsigned char*>(mapped)));
        munmap(mapped, kLegacyArea);
    }
    close(fd);
    unlink(image.c_str());
}
BENCHMARK(BM_ReferenceMapLegacyArea)->Unit(benchmark::kMicrosecond);

void BM_ReferencePreadLegacyArea(benchmark::State& state) {
    const std::string image = WriteTemp(BenchInputs::MemoryImage(BenchInputs::RealisticTable()));
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<unsigned char> buffer(kLegacyArea);
    for (auto _ : state) {
        if (pread(fd, buffer.data(), kLegacyArea, kLegacyStart) !=
            static_cast<ssize_t>(kLegacyArea)) {
            std::abort();
        }
        benchmark::DoNotOptimize(CountAnchors(buffer.data()));
    }
    close(fd);
    unlink(image.c_str());
}
BENCHMARK(BM_ReferencePreadLegacyArea)->Unit(benchmark::kMicrosecond);

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

// Fake system_profiler and ioreg that sleep as long as they are told, then
// print what FakeMacTools' print; and the GetHardwareHash that runs
// them: this build's own, or with GRELLAN_BENCH_LIBRARY the one of a test
// build of the library loaded from that path (main's, for the figures
// before), which takes the tools' directory from GRELLAN_TEST_SEARCH_PATH
// and a blank memory image, so no table, from GRELLAN_TEST_MEMORY_DEVICE.
class PacedTools {
public:
    static PacedTools& Get() {
        static PacedTools* const tools = new PacedTools();
        return *tools;
    }

    void SetDelays(long profilerMs, long ioregMs) const {
        for (const auto& [tool, ms] :
             {std::pair{"system_profiler", profilerMs}, std::pair{"ioreg", ioregMs}}) {
            tools.SetScript(tool, "sleep " + Seconds(ms) + "\nexec cat '" + tools.Directory() +
                                      "/" + tool + ".out'\n");
        }
    }
    GetHardwareHashFn Call() const { return call; }
    const std::string& Library() const { return library; }

private:
    PacedTools() {
        const std::string dir = tools.Directory();
        const char* path = std::getenv("GRELLAN_BENCH_LIBRARY");
        if (path == nullptr || *path == '\0') {
            static const platform::ScopedCommandSettings commands(dir);
            static const platform::ScopedFirmwarePaths paths(platform::WithoutMemoryDevice());
            call = GetHardwareHash;
            library = "this build";
            return;
        }
        const std::string image = WriteTemp(Bytes(1 << 20, 0));
        setenv("GRELLAN_TEST_SEARCH_PATH", (dir + ":/usr/bin:/bin").c_str(), 1);
        setenv("GRELLAN_TEST_MEMORY_DEVICE", image.c_str(), 1);
        void* loaded = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        call = loaded != nullptr
                   ? reinterpret_cast<GetHardwareHashFn>(dlsym(loaded, "GetHardwareHash"))
                   : nullptr;
        if (call == nullptr) {
            std::abort();
        }
        library = path;
    }

    // The text `sleep` takes for `ms` milliseconds: "0.300".
    static std::string Seconds(long ms) {
        char text[32];
        std::snprintf(text, sizeof text, "%ld.%03ld", ms / 1000, ms % 1000);
        return text;
    }

    grellan::testing::FakeMacTools tools;
    GetHardwareHashFn call = nullptr;
    std::string library;
};

// One fallback call with system_profiler taking range(0) ms (it runs twice
// in a call, or three times in the library before its commands ran at once)
// and ioreg range(1) ms; slowest_ms is the slowest tool's time, the time a
// call can at best take.
void BM_GetHardwareHash_Fallback(benchmark::State& state) {
    const PacedTools& tools = PacedTools::Get();
    tools.SetDelays(static_cast<long>(state.range(0)), static_cast<long>(state.range(1)));
    char buffer[33];
    for (auto _ : state) {
        tools.Call()(buffer, sizeof buffer);
        if (buffer[0] == '\0') {
            state.SkipWithError("no fingerprint");
            break;
        }
    }
    state.counters["slowest_ms"] = static_cast<double>(std::max(state.range(0), state.range(1)));
    state.SetLabel(tools.Library());
}
BENCHMARK(BM_GetHardwareHash_Fallback)
    ->Args({300, 150})
    ->Args({100, 50})
    ->Args({200, 100})
    ->Args({500, 250})
    ->Args({1000, 500})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
