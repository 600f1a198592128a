#include "smbios/SmBiosUnix.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/CommandRunner.h"
#include "platform/CommandSettings.h"
#include "platform/FirmwarePaths.h"
#include "platform/MemoryDevice.h"
#include "platform/MemoryMapping.h"
#include "smbios/EntryPoint.h"

namespace tirsel::kvl::agent::driver::smbios {

namespace {

using firmware::AcceptedEntryPoint;
using firmware::Bytes;
using firmware::kProbeLength;
using Probe = std::array<unsigned char, kProbeLength>;

using Kind = AcquisitionStep::Kind;

// A step of the scan `efiScan` names.
AcquisitionStep ScanStep(Kind kind, bool efiScan, std::uint64_t address) {
    AcquisitionStep step;
    step.kind = kind;
    step.efiScan = efiScan;
    step.address = address;
    return step;
}

// Serves the 16-byte probes of a scan. Each probe needs the pages that hold
// the 32 bytes from its address (one page, or two where they cross a page
// boundary), and a probe whose pages cannot be mapped ends the scan. At the
// first probe the window maps every page up to the end of the scan at once
// (for an image file, up to its last page); probes it does not cover, because
// that mapping failed or the file ends earlier, map their own one or two
// pages as before, so a page that cannot be mapped still ends the scan at the
// first probe that needs it.
class ProbeWindow {
public:
    ProbeWindow(const platform::MemoryDevice& device, std::uint64_t pageSize,
                std::uint64_t lastProbe)
        : device(device), pageSize(pageSize), lastProbe(lastProbe) {}

    // The 16 bytes at `address`, or nothing when their pages cannot be mapped.
    std::optional<Probe> Read(std::uint64_t address) {
        if (Find(address, kSpan) == nullptr) {
            if (!triedWhole) {
                triedWhole = true;
                MapToEnd(address);
            }
            if (Find(address, kSpan) == nullptr) {
                const std::uint64_t offset = address % pageSize;
                const std::uint64_t pages = offset + kSpan > pageSize ? 2 : 1;
                base = address - offset;
                window = device.Map(base, pages * pageSize);
                if (!window.IsValid()) {
                    return std::nullopt;
                }
            }
        }
        Probe probe;
        std::memcpy(probe.data(), Find(address, kProbeLength), kProbeLength);
        return probe;
    }

    // The `length` bytes at `address` when the current mapping holds them.
    const unsigned char* Find(std::uint64_t address, std::uint64_t length) const {
        if (!window.IsValid() || address < base || address - base > window.Length() ||
            window.Length() - (address - base) < length) {
            return nullptr;
        }
        return window.Bytes() + (address - base);
    }

private:
    static constexpr std::uint64_t kSpan = 2 * kProbeLength;

    void MapToEnd(std::uint64_t address) {
        const std::uint64_t from = address - address % pageSize;
        if (lastProbe > std::numeric_limits<std::uint64_t>::max() - kSpan - pageSize) {
            return;
        }
        const std::uint64_t scanEnd = (lastProbe + kSpan + pageSize - 1) / pageSize * pageSize;
        const std::uint64_t end = std::min(scanEnd, device.MappableEnd());
        if (end <= from) {
            return;
        }
        platform::MemoryMapping whole = device.Map(from, end - from);
        if (whole.IsValid()) {
            window = std::move(whole);
            base = from;
        }
    }

    const platform::MemoryDevice& device;
    std::uint64_t pageSize;
    std::uint64_t lastProbe;
    bool triedWhole = false;
    std::uint64_t base = 0;
    platform::MemoryMapping window;
};

// The held bytes of an accepted entry point, with its table copied out of
// memory: from the probes' mapping when it holds the table, otherwise from a
// mapping of its own.
std::optional<Bytes> CopyTable(const platform::MemoryDevice& device, const ProbeWindow& probes,
                               const AcceptedEntryPoint& entry, std::uint64_t pageSize) {
    if (const unsigned char* mapped = probes.Find(entry.tableAddress, entry.tableLength)) {
        return firmware::HeldBytes(entry.major, entry.minor, entry.revision, mapped,
                                   entry.tableLength);
    }
    const std::uint32_t offset = entry.tableAddress % static_cast<std::uint32_t>(pageSize);
    const platform::MemoryMapping table =
        device.Map(entry.tableAddress - offset, std::size_t{offset} + entry.tableLength);
    if (!table.IsValid()) {
        return std::nullopt;
    }
    return firmware::HeldBytes(entry.major, entry.minor, entry.revision, table.Bytes() + offset,
                               entry.tableLength);
}

}  // namespace

std::optional<std::vector<unsigned char>> SmBiosUnix::GetSystemFirmwareTable() {
    std::optional<Bytes> result;
    const platform::FirmwarePathSet& paths = platform::CurrentFirmwarePaths();

    const platform::MemoryDevice device = platform::MemoryDevice::Open(paths.memoryDevice);
    efiScan = platform::PathExists(paths.efiSystab) || platform::PathExists(paths.procEfiSystab);
    if (device.GetState() == platform::MemoryDevice::State::CannotOpen || !device.IsUsable()) {
        AcquisitionStep step;
        step.kind = device.GetState() == platform::MemoryDevice::State::CannotOpen
                        ? Kind::DeviceCannotOpen
                        : Kind::DeviceUnusable;
        step.path = paths.memoryDevice;
        steps.push_back(std::move(step));
        return result;
    }

    std::uint64_t first = firmware::kLegacyScanFirst;
    std::uint64_t last = firmware::kLegacyScanLast;
    if (efiScan) {
        const platform::CommandSettings& settings = platform::CurrentCommandSettings();
        const platform::CommandResult run = platform::CommandRunner::Run(
            {firmware::kTableAddressCommand, std::string()}, settings, settings.ToolEnvironment());
        // Not started, killed, past a bound or a real error (status 2 or
        // more): no address. Status 1 is grep's "no match".
        if (!run.Exited() || run.exitStatus >= 2) {
            AcquisitionStep step = ScanStep(Kind::DmidecodeFailed, true, 0);
            step.command = run;
            steps.push_back(std::move(step));
            return result;
        }
        const std::string& output = run.output;
        if (output.size() < 2 || output.find("0x") == std::string::npos) {
            steps.push_back(ScanStep(Kind::DmidecodeNoHex, true, 0));
            return result;
        }
        const std::optional<std::uint64_t> address = firmware::ParseTableAddress(output);
        if (!address) {
            AcquisitionStep step = ScanStep(Kind::DmidecodeNoAddress, true, 0);
            step.path = output;
            steps.push_back(std::move(step));
            return result;
        }
        first = *address;
        last = first + firmware::kEfiScanSpan - firmware::kProbeStep;
    }

    const auto pageSize = static_cast<std::uint64_t>(getpagesize());
    firmware::EntryPointScanner scanner;
    ProbeWindow probes(device, pageSize, last);
    for (std::uint64_t address = first; address <= last; address += firmware::kProbeStep) {
        const std::optional<Probe> probe = probes.Read(address);
        if (!probe) {
            steps.push_back(ScanStep(Kind::CannotMapProbe, efiScan, address));
            return result;
        }
        const std::optional<AcceptedEntryPoint> entry = scanner.Examine(address, probe->data());
        if (!entry) {
            continue;
        }
        majorVersion = entry->major;
        minorVersion = entry->minor;
        AcquisitionStep found = ScanStep(Kind::EntryPointAccepted, efiScan, entry->anchorAddress);
        found.tableAddress = entry->tableAddress;
        found.length = entry->tableLength;
        found.major = entry->major;
        found.minor = entry->minor;
        if (entry->tableLength == 0) {
            found.kind = Kind::EmptyTable;
            steps.push_back(std::move(found));
            return result;
        }
        std::optional<Bytes> held = CopyTable(device, probes, *entry, pageSize);
        if (!held) {
            found.kind = Kind::CannotMapTable;
            steps.push_back(std::move(found));
            return result;
        }
        result = std::move(held);
        steps.push_back(std::move(found));
        if (efiScan) {
            return result;
        }
    }
    if (!result) {
        AcquisitionStep none = ScanStep(Kind::NoEntryPoint, efiScan, first);
        none.last = last;
        steps.push_back(std::move(none));
    }
    return result;
}

}  // namespace tirsel::kvl::agent::driver::smbios
