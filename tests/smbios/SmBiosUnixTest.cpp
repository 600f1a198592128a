#include "smbios/SmBiosUnix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CommandSettingsOverride.h"
#include "FirmwarePathsOverride.h"
#include "MemoryImage.h"
#include "Steps.h"
#include "TableBuilder.h"
#include "TempDir.h"
#include "smbios/EntryPoint.h"

namespace {

using grellan::testing::FindStep;

using grellan::testing::Bytes;
using grellan::testing::EntryPoint21;
using grellan::testing::MemoryImage;
using grellan::testing::TableBuilder;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::platform::FirmwarePathSet;
using tirsel::kvl::agent::driver::platform::ScopedFirmwarePaths;
using tirsel::kvl::agent::driver::smbios::AcquisitionStep;
using tirsel::kvl::agent::driver::smbios::SmBiosUnix;
using Kind = AcquisitionStep::Kind;
namespace firmware = tirsel::kvl::agent::driver::smbios::firmware;

const Bytes kTableA = TableBuilder().AddSerial(1, 0x10, "SYSTEM-A").AddEnd().Table();
const Bytes kTableB = TableBuilder().AddSerial(2, 0x20, "BOARD-B").AddEnd().Table();

// Serves `device` as the memory device; the EFI markers live in `dir` and
// exist only when asked for.
class ScanPaths {
public:
    ScanPaths(const TempDir& dir, const std::string& device, bool sysEfi = false,
              bool procEfi = false)
        : scoped(Paths(dir, device, sysEfi, procEfi)) {}

private:
    static FirmwarePathSet Paths(const TempDir& dir, const std::string& device, bool sysEfi,
                                 bool procEfi) {
        FirmwarePathSet paths;
        paths.memoryDevice = device;
        paths.efiSystab = dir.Path() + "/sys-efi-systab";
        paths.procEfiSystab = dir.Path() + "/proc-efi-systab";
        if (sysEfi) {
            dir.Write("sys-efi-systab", "SMBIOS=0x10000\n");
        }
        if (procEfi) {
            dir.Write("proc-efi-systab", "SMBIOS=0x10000\n");
        }
        return paths;
    }
    ScopedFirmwarePaths scoped;
};

struct LegacyCase {
    const char* name;
    std::function<void(MemoryImage&)> fill;
    std::optional<Bytes> expected;  // held bytes, or no table
    unsigned char major;
    unsigned char minor;
};

TEST(SmBiosUnixLegacyScan, FindsTheEntryPointsTheScanRulesAccept) {
    const auto held = [](std::uint8_t major, std::uint8_t minor, const Bytes& table,
                         std::uint8_t revision = 0) {
        return TableBuilder::HeldBytes(major, minor, table, revision);
    };
    const std::vector<LegacyCase> cases = {
        {"entry point at the first probe, 0xE0000",
         [](MemoryImage& m) { m.PutTable(0xE0000, 2, 4, 0x1000, kTableA); }, held(2, 4, kTableA), 2,
         4},
        {"intermediate part at the last probe, 0xFFFE0",
         [](MemoryImage& m) { m.PutTable(0xFFFD0, 2, 4, 0x1000, kTableA); }, held(2, 4, kTableA), 2,
         4},
        {"anchor below the first probe",
         [](MemoryImage& m) { m.PutTable(0xDFFF0, 2, 4, 0x1000, kTableA); }, std::nullopt, 0, 0},
        {"intermediate part beyond the last probe",
         [](MemoryImage& m) { m.PutTable(0xFFFE0, 2, 4, 0x1000, kTableA); }, std::nullopt, 0, 0},
        {"_DMI_ without an earlier _SM_",
         [](MemoryImage& m) { m.PutTable(0xE0000, 2, 4, 0x1000, kTableA).Put(0xE0000, "XXXX"); },
         std::nullopt, 0, 0},
        {"_DMI_ after an _SM_ with major version 0",
         [](MemoryImage& m) { m.PutTable(0xE0000, 0, 4, 0x1000, kTableA, 0x24); }, std::nullopt, 0,
         0},
        {"_DMI_ with a bad checksum",
         [](MemoryImage& m) {
             m.Put(0x1000, kTableA)
                 .Put(0xE0000, EntryPoint21(2, 4, static_cast<std::uint16_t>(kTableA.size()),
                                            0x1000, 0, false));
         },
         std::nullopt, 0, 0},
        {"_SM_ remembered across probes",
         [](MemoryImage& m) {
             const Bytes ep =
                 EntryPoint21(2, 5, static_cast<std::uint16_t>(kTableA.size()), 0x1000, 0);
             m.Put(0x1000, kTableA)
                 .Put(0xE0000, Bytes(ep.begin(), ep.begin() + 16))
                 .Put(0xE4000, Bytes(ep.begin() + 16, ep.end()));
         },
         held(2, 5, kTableA), 2, 5},
        {"a later entry point replaces an earlier one",
         [](MemoryImage& m) {
             m.PutTable(0xE0000, 2, 4, 0x1000, kTableA).PutTable(0xF0000, 2, 7, 0x2000, kTableB);
         },
         held(2, 7, kTableB), 2, 7},
        {"a later entry point with table length 0 ends the scan",
         [](MemoryImage& m) {
             m.PutTable(0xE0000, 2, 4, 0x1000, kTableA)
                 .Put(0xE8000, EntryPoint21(3, 0, 0, 0x3000, 0))
                 .PutTable(0xF0000, 2, 7, 0x2000, kTableB);
         },
         held(2, 4, kTableA), 3, 0},
        {"BCD revision 0x27 overrides the anchor's versions",
         [](MemoryImage& m) { m.PutTable(0xF0000, 3, 1, 0x1000, kTableA, 0x27); },
         held(2, 7, kTableA, 0x27), 2, 7},
        {"table at an address that is not page aligned",
         [](MemoryImage& m) { m.PutTable(0xF0000, 2, 8, 0x12345, kTableB); }, held(2, 8, kTableB),
         2, 8},
        {"table inside the scanned area",
         [](MemoryImage& m) { m.PutTable(0xE0000, 2, 8, 0xF1000, kTableB); }, held(2, 8, kTableB),
         2, 8},
        {"table across a page boundary",
         [](MemoryImage& m) { m.PutTable(0xF0000, 2, 8, 0x1FFC, kTableB); }, held(2, 8, kTableB), 2,
         8},
    };
    for (const LegacyCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        MemoryImage image;
        c.fill(image);
        const ScanPaths paths(dir, image.Save(dir));

        SmBiosUnix scan;
        const std::optional<Bytes> result = scan.GetSystemFirmwareTable();
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(scan.GetMajorVersion(), c.major);
        EXPECT_EQ(scan.GetMinorVersion(), c.minor);
        EXPECT_FALSE(scan.UsedEfiScan());
    }
}

TEST(SmBiosUnixLegacyScan, ReportsWhereItFoundTheTable) {
    TempDir dir;
    MemoryImage image;
    image.PutTable(0xF0000, 2, 7, 0x12340, kTableA, 0x27);
    const ScanPaths paths(dir, image.Save(dir));
    SmBiosUnix scan;
    ASSERT_TRUE(scan.GetSystemFirmwareTable());
    const AcquisitionStep* found = FindStep(scan.Steps(), Kind::EntryPointAccepted);
    ASSERT_NE(found, nullptr);
    EXPECT_FALSE(found->efiScan);
    EXPECT_EQ(found->address, 0xF0000U);
    EXPECT_EQ(found->major * 10 + found->minor, 27U);
    EXPECT_EQ(found->length, kTableA.size());
    EXPECT_EQ(found->tableAddress, 0x12340U);
}

TEST(SmBiosUnixLegacyScan, DeviceThatCannotBeOpenedOrMappedGivesNoTable) {
    TempDir dir;
    {
        const ScanPaths paths(dir, dir.Path() + "/missing");
        SmBiosUnix scan;
        EXPECT_FALSE(scan.GetSystemFirmwareTable());
        const AcquisitionStep* step = FindStep(scan.Steps(), Kind::DeviceCannotOpen);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->path, dir.Path() + "/missing");
    }
    {
        const ScanPaths paths(dir, MemoryImage().Save(dir));
        SmBiosUnix scan;
        EXPECT_FALSE(scan.GetSystemFirmwareTable());
        const AcquisitionStep* step = FindStep(scan.Steps(), Kind::NoEntryPoint);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->address, 0xE0000U);
        EXPECT_EQ(step->last, 0xFFFE0U);
    }
    {
        // A table past the end of an image file fails to map (rather than
        // raising SIGBUS when read) and the scan keeps the earlier result.
        MemoryImage image;
        image.PutTable(0xE0000, 2, 4, 0x1000, kTableA);
        image.Put(0xF0000, EntryPoint21(2, 7, 0x100, 0x7FFFF000, 0x27));
        const ScanPaths paths(dir, image.Save(dir));
        SmBiosUnix scan;
        EXPECT_EQ(scan.GetSystemFirmwareTable(), TableBuilder::HeldBytes(2, 4, kTableA));
        const AcquisitionStep* step = FindStep(scan.Steps(), Kind::CannotMapTable);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->tableAddress, 0x7FFFF000U);
    }
    {
        // An image that ends inside the legacy area: the probes past it fail.
        const ScanPaths paths(dir, MemoryImage(0xE8000).Save(dir));
        SmBiosUnix scan;
        EXPECT_FALSE(scan.GetSystemFirmwareTable());
        const AcquisitionStep* step = FindStep(scan.Steps(), Kind::CannotMapProbe);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->address, 0xE7FF0U);
    }
    {
        // One that ends inside a page: that last page still maps, as the 32
        // bytes of its first probes would, and the entry point in it is found.
        MemoryImage image(0xE8020);
        image.Put(0x1000, kTableA);
        image.Put(0xE8000, EntryPoint21(2, 6, kTableA.size(), 0x1000, 0x26));
        const ScanPaths paths(dir, image.Save(dir));
        SmBiosUnix scan;
        EXPECT_EQ(scan.GetSystemFirmwareTable(), TableBuilder::HeldBytes(2, 6, kTableA, 0x26));
        const AcquisitionStep* step = FindStep(scan.Steps(), Kind::CannotMapProbe);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->address, 0xE8FF0U);
    }
}

TEST(SmBiosUnixLegacyScan, AcceptsOnlyACharacterDeviceOrARegularFile) {
    TempDir dir;
    const std::string fifo = dir.Path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string device;
        Kind step;
    };
    const std::vector<Case> cases = {
        {fifo, Kind::DeviceUnusable},
        {dir.Path(), Kind::DeviceUnusable},
        // A character device passes the test; this one cannot be mapped.
        {"/dev/null", Kind::CannotMapProbe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const ScanPaths paths(dir, c.device);
        // Opening a FIFO without a writer must not block: run the scan aside
        // and, should it hang, open the FIFO's other end to release it.
        auto scan = std::async(std::launch::async, [] {
            SmBiosUnix scanner;
            auto table = scanner.GetSystemFirmwareTable();
            return std::make_pair(std::move(table), scanner.Steps());
        });
        if (scan.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the scan blocked";
            const int release = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
            scan.wait();
            close(release);
        }
        const auto [table, steps] = scan.get();
        EXPECT_FALSE(table);
        EXPECT_NE(FindStep(steps, c.step), nullptr);
    }
}

TEST(SmBiosUnixEfiScan, ReadsTheStartAddressFromTheTableAtLine) {
    struct Case {
        const char* output;
        std::optional<std::uint64_t> address;
    };
    const std::vector<Case> cases = {
        {"\tTable at 0x000E9A40.", 0xE9A40},
        {"Table at 0x7AE9D000.", 0x7AE9D000},
        {"Table at 0xabcdef12x", 0xABCDEF12},
        {"Table at 0x1F", 0x1},                           // the last character is never read
        {"Table at 0x 2A.", 0x2A},                        // leading blanks are skipped
        {"0x10.\nTable at 0x20.", 0x10},                  // the first "0x" counts
        {"Table at 0x.", std::nullopt},                   // nothing between "0x" and the end
        {"Table at 0xZZ.", std::nullopt},                 // no hexadecimal digit
        {"Table at 0x-10.", std::nullopt},                // a negative address
        {"Table at 0x1FFFFFFFFFFFFFFFF.", std::nullopt},  // beyond 64 bits
        {"Table at 000E9A40.", std::nullopt},
        {"0x", std::nullopt},
        {"x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EQ(firmware::ParseTableAddress(c.output), c.address);
    }
}

class SmBiosUnixEfiScanTest : public ::testing::Test {
protected:
    // The fake dmidecode first on the tool search path prints `tableLine` among other lines.
    void FakeDmidecode(const std::string& tableLine) const {
        tools.WriteScript("dmidecode",
                          "echo '# dmidecode 3.4'\necho 'SMBIOS 3.3.0 present.'\n"
                          "printf '" +
                              tableLine + "\\n'\n");
    }

    static constexpr std::uint64_t kStart = 0x10000;
    TempDir dir;
    TempDir tools;
    tirsel::kvl::agent::driver::platform::ScopedCommandSettings commands{tools.Path()};
};

TEST_F(SmBiosUnixEfiScanTest, StopsAtTheFirstAcceptedEntryPoint) {
    FakeDmidecode("\\tTable at 0x00010000.");
    MemoryImage image;
    image.PutTable(kStart + 0x40, 3, 0, 0x1000, kTableA, 0x30)
        .PutTable(kStart + 0x100, 2, 7, 0x2000, kTableB);
    for (const bool sysMarker : {true, false}) {
        SCOPED_TRACE(sysMarker ? "/sys marker" : "/proc marker");
        TempDir markers;
        const ScanPaths paths(markers, image.Save(dir), sysMarker, !sysMarker);
        SmBiosUnix scan;
        EXPECT_EQ(scan.GetSystemFirmwareTable(), TableBuilder::HeldBytes(3, 0, kTableA, 0x30));
        EXPECT_TRUE(scan.UsedEfiScan());
        EXPECT_EQ(scan.GetMajorVersion(), 3);
        EXPECT_EQ(scan.GetMinorVersion(), 0);
    }
}

TEST_F(SmBiosUnixEfiScanTest, GivesUpOneMebibytePastItsStart) {
    FakeDmidecode("Table at 0x00010000.");
    const std::size_t size = kStart + firmware::kEfiScanSpan + 0x1000;
    {
        SCOPED_TRACE("intermediate part at the last probe");
        MemoryImage image(size);
        image.PutTable(kStart + firmware::kEfiScanSpan - 32, 2, 4, 0x1000, kTableA);
        const ScanPaths paths(dir, image.Save(dir), true);
        SmBiosUnix scan;
        EXPECT_EQ(scan.GetSystemFirmwareTable(), TableBuilder::HeldBytes(2, 4, kTableA));
    }
    {
        SCOPED_TRACE("intermediate part one step beyond");
        MemoryImage image(size);
        image.PutTable(kStart + firmware::kEfiScanSpan - 16, 2, 4, 0x1000, kTableA);
        const ScanPaths paths(dir, image.Save(dir), true);
        SmBiosUnix scan;
        EXPECT_FALSE(scan.GetSystemFirmwareTable());
        const AcquisitionStep* step = FindStep(scan.Steps(), Kind::NoEntryPoint);
        ASSERT_NE(step, nullptr);
        EXPECT_TRUE(step->efiScan);
        EXPECT_EQ(step->address, kStart);
        EXPECT_EQ(step->last + firmware::kProbeStep - step->address, firmware::kEfiScanSpan);
    }
}

TEST_F(SmBiosUnixEfiScanTest, OutputWithoutAnAddressGivesNoTable) {
    MemoryImage image;
    image.PutTable(0xE0000, 2, 4, 0x1000, kTableA);  // a legacy scan would find this
    const ScanPaths paths(dir, image.Save(dir), true);
    {
        FakeDmidecode("Table at 00010000.");
        SmBiosUnix scan;
        EXPECT_FALSE(scan.GetSystemFirmwareTable());
        EXPECT_NE(FindStep(scan.Steps(), Kind::DmidecodeNoHex), nullptr);
    }
    {
        FakeDmidecode("Table at 0xZZ.");
        SmBiosUnix scan;
        EXPECT_FALSE(scan.GetSystemFirmwareTable());
    }
}

}  // namespace
