#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "FirmwarePathsOverride.h"
#include "HardwareHash.h"
#include "MemoryImage.h"
#include "RegistryStandIn.h"
#include "RegistryTable.h"
#include "Steps.h"
#include "TableBuilder.h"
#include "TempDir.h"
#include "TestData.h"
#include "business/DigestSlots.h"
#include "business/HwHashCalculator.h"
#include "grellan/grellan.h"
#include "smbios/FirmwareTable.h"
#include "smbios/SmBios.h"

namespace {

using grellan::testing::FindStep;

using grellan::testing::Bytes;
using grellan::testing::HardwareHash;
using grellan::testing::MemoryImage;
using grellan::testing::PutRegistryTable;
using grellan::testing::ReadFile;
using grellan::testing::ReferenceMd5;
using grellan::testing::TableBuilder;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::business::DigestSlots;
using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::platform::MemoryDeviceAt;
using tirsel::kvl::agent::driver::platform::ScopedFirmwarePaths;
using tirsel::kvl::agent::driver::platform::WithoutMemoryDevice;
using tirsel::kvl::agent::driver::smbios::AcquireFirmwareTable;
using tirsel::kvl::agent::driver::smbios::AcquisitionStep;
using tirsel::kvl::agent::driver::smbios::FirmwareTable;
using tirsel::kvl::agent::driver::smbios::SerialSource;
using tirsel::kvl::agent::driver::smbios::SmBios;
using Kind = AcquisitionStep::Kind;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

constexpr const char* kService = "AppleSMBIOS";

std::string Serials(const SmBios& table, DigestSlots::Id slot) {
    return HwHashCalculator().SerialsFromTable(table).*DigestSlots::Of(slot).serial;
}

// A "SMBIOS-EPS" property: the 2.1 layout with the given fields, anchor left blank.
Bytes RegistryEntryPoint(std::uint8_t major, std::uint8_t minor, std::uint16_t tableLength,
                         std::uint8_t revision, std::size_t size = 0x1F) {
    Bytes eps(size, 0);
    const auto put = [&](std::size_t at, std::uint8_t value) {
        if (at < eps.size()) {
            eps[at] = value;
        }
    };
    put(0x06, major);
    put(0x07, minor);
    put(0x16, static_cast<std::uint8_t>(tableLength));
    put(0x17, static_cast<std::uint8_t>(tableLength >> 8));
    put(0x1E, revision);
    return eps;
}

// A well-formed table of exactly `size` bytes (at least 20): a system
// structure, then OEM structures whose strings fill the rest.
Bytes TableOfSize(std::size_t size) {
    TableBuilder builder;
    builder.AddSerial(1, 0x0001, "SYSTEM-SERIAL");
    std::uint16_t handle = 0x0100;
    while (size - builder.Table().size() > 212) {
        builder.Add(0x80, handle++, {}, {std::string(200, 'x')});
    }
    const std::size_t rest = size - builder.Table().size() - 6;
    if (rest == 0) {
        builder.Add(0x80, handle, {});
    } else {
        builder.Add(0x80, handle, {}, {std::string(rest, 'y')});
    }
    return builder.Table();
}

// Serials of all four kinds, as the hash calculator reads them, each ending
// in `n`.
Bytes SerialTable(const std::string& n) {
    return TableBuilder()
        .AddSerial(4, 0x0400, "CPU-" + n)
        .AddSerial(3, 0x0300, "CHASSIS-" + n)
        .AddSerial(1, 0x0100, "SYSTEM-" + n)
        .AddSerial(2, 0x0200, "BOARD-" + n)
        .AddEnd()
        .Table();
}
const Bytes kSerialTable = SerialTable("0001");
const std::string kSerialDigestInput = "CHASSIS-0001SYSTEM-0001BOARD-0001CPU-0001";

// "/dev/mem" is absent, so tables come from the registry stand-in.
class RegistrySourceTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(standin::OutstandingReferences(), 0U);
        EXPECT_EQ(standin::InvalidReleases(), 0U);
    }

    ScopedFirmwarePaths paths{WithoutMemoryDevice()};
    standin::ScopedRegistry registry;
};

TEST_F(RegistrySourceTest, BuildsThePrefixFromTheEntryPoint) {
    const Bytes table = TableOfSize(0x0A00);
    Bytes property = table;
    property.insert(property.end(), 0x40, 0xEE);  // beyond the stated length
    PutRegistryTable(RegistryEntryPoint(2, 4, 0x0A00, 0x24), property);

    const SmBios smbios;
    Bytes expected = {0x00, 0x02, 0x04, 0x24, 0x00, 0x0A, 0x00, 0x00};
    expected.resize(16, 0);
    expected.insert(expected.end(), table.begin(), table.end());
    EXPECT_EQ(smbios.HeldBytes(), expected);
    EXPECT_TRUE(smbios.loaded);
    EXPECT_EQ(smbios.Version(), 0x0204U);
    EXPECT_EQ(smbios.EntryMajor(), 2);
    EXPECT_EQ(smbios.EntryMinor(), 4);
    EXPECT_EQ(smbios.SnapshotText(), TableBuilder::Base64(expected));
    EXPECT_EQ(Serials(smbios, DigestSlots::Id::System), "SYSTEM-SERIAL");
    const FirmwareTable acquired = AcquireFirmwareTable();
    EXPECT_EQ(acquired.source, SerialSource::RegistryTable);
    EXPECT_EQ(acquired.heldBytes, expected);
    const AcquisitionStep* absent = FindStep(acquired.steps, Kind::DeviceAbsent);
    ASSERT_NE(absent, nullptr);
    EXPECT_EQ(absent->path, "/dev/mem");
    const AcquisitionStep* loaded = FindStep(acquired.steps, Kind::RegistryTable);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->length, 0x0A00U);
    EXPECT_EQ(loaded->major * 256 + loaded->minor, 0x0204U);
}

TEST_F(RegistrySourceTest, ShortTablePropertyKeepsWhatItHolds) {
    PutRegistryTable(RegistryEntryPoint(2, 4, 0x0A00, 0x24), kSerialTable);

    const SmBios smbios;
    EXPECT_TRUE(smbios.loaded);
    EXPECT_EQ(smbios.HeldBytes(), TableBuilder::HeldBytes(2, 4, kSerialTable, 0x24));
    EXPECT_EQ(Serials(smbios, DigestSlots::Id::Baseboard), "BOARD-0001");
}

TEST_F(RegistrySourceTest, MissingOrUnusablePropertiesGiveNoTable) {
    const Bytes eps = RegistryEntryPoint(2, 4, static_cast<std::uint16_t>(kSerialTable.size()), 0);
    struct Case {
        const char* name;
        std::function<void()> fill;
        Kind step;
        std::string property;  // the property the step names
    };
    const std::vector<Case> cases = {
        {"no service", [] {}, Kind::NoService, ""},
        {"a service of another class",
         [&] {
             standin::SetDataProperty("AppleSMBIOSx", "SMBIOS-EPS", eps);
             standin::SetDataProperty("AppleSMBIOSx", "SMBIOS", kSerialTable);
         },
         Kind::NoService, ""},
        {"no entry point", [] { standin::SetDataProperty(kService, "SMBIOS", kSerialTable); },
         Kind::NoProperty, "SMBIOS-EPS"},
        {"entry point of 30 bytes",
         [] { PutRegistryTable(RegistryEntryPoint(2, 4, 6, 0, 30), kSerialTable); },
         Kind::EntryPointShort, "SMBIOS-EPS"},
        {"entry point not a data object",
         [] {
             standin::SetNonDataProperty(kService, "SMBIOS-EPS", std::string(31, 'a'));
             standin::SetDataProperty(kService, "SMBIOS", kSerialTable);
         },
         Kind::NotData, "SMBIOS-EPS"},
        {"no table", [&] { standin::SetDataProperty(kService, "SMBIOS-EPS", eps); },
         Kind::NoProperty, "SMBIOS"},
        {"table not a data object",
         [&] {
             standin::SetDataProperty(kService, "SMBIOS-EPS", eps);
             standin::SetNonDataProperty(kService, "SMBIOS", "table");
         },
         Kind::NotData, "SMBIOS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearRegistry();
        c.fill();
        {
            const SmBios smbios;
            EXPECT_FALSE(smbios.loaded);
            EXPECT_TRUE(smbios.HeldBytes().empty());
            EXPECT_TRUE(smbios.SnapshotText().empty());
            EXPECT_EQ(smbios.Version(), 0U);
            const FirmwareTable acquired = AcquireFirmwareTable();
            EXPECT_EQ(acquired.source, SerialSource::None);
            const AcquisitionStep* step = FindStep(acquired.steps, c.step);
            ASSERT_NE(step, nullptr);
            EXPECT_EQ(step->property, c.property);
        }
        EXPECT_EQ(standin::OutstandingReferences(), 0U);
    }
}

// Loading again replaces the table: its serials once (not appended to the
// first table's), its own text, and nothing at all when no table is left.
TEST_F(RegistrySourceTest, LoadingAgainHoldsOnlyTheNewTable) {
    const Bytes second = SerialTable("0002");
    PutRegistryTable(kSerialTable, 2, 4);
    SmBios smbios;
    ASSERT_EQ(HwHashCalculator::DigestInput(HwHashCalculator().SerialsFromTable(smbios)),
              kSerialDigestInput);

    PutRegistryTable(second, 2, 6);
    smbios.LoadFromFirmware();
    EXPECT_TRUE(smbios.loaded);
    EXPECT_EQ(HwHashCalculator::DigestInput(HwHashCalculator().SerialsFromTable(smbios)),
              "CHASSIS-0002SYSTEM-0002BOARD-0002CPU-0002");
    EXPECT_EQ(smbios.GetStructData(0x0100U)->GetString(1), "SYSTEM-0002");
    EXPECT_EQ(smbios.HeldBytes(), TableBuilder::HeldBytes(2, 6, second));
    EXPECT_EQ(smbios.SnapshotText(), TableBuilder::Snapshot(2, 6, second));

    standin::ClearRegistry();
    smbios.LoadFromFirmware();
    EXPECT_FALSE(smbios.loaded);
    EXPECT_EQ(smbios.Version(), 0U);
    EXPECT_EQ(smbios.GetStructData(0x0100U), nullptr);
    EXPECT_EQ(smbios.SnapshotText(), "");
}

TEST_F(RegistrySourceTest, HardwareHashOfTheRegistryTable) {
    PutRegistryTable(
        RegistryEntryPoint(2, 4, static_cast<std::uint16_t>(kSerialTable.size()), 0x24),
        kSerialTable);
    EXPECT_EQ(HardwareHash(40), ReferenceMd5(kSerialDigestInput));
}

class MemorySourceTest : public ::testing::Test {
protected:
    // Serves `device` as "/dev/mem"; no EFI markers exist.
    ScopedFirmwarePaths UseDevice(const std::string& device) const {
        return ScopedFirmwarePaths(MemoryDeviceAt(device));
    }

    TempDir dir;
    standin::ScopedRegistry registry;
};

TEST_F(MemorySourceTest, LoadsTheTableOfTheLegacyScan) {
    MemoryImage image;
    image.PutTable(0xF0000, 2, 6, 0x9A000, kSerialTable, 0x26);
    const auto paths = UseDevice(image.Save(dir));
    {
        const SmBios smbios;
        EXPECT_TRUE(smbios.loaded);
        EXPECT_EQ(smbios.HeldBytes(), TableBuilder::HeldBytes(2, 6, kSerialTable, 0x26));
        EXPECT_EQ(smbios.EntryMajor(), 2);
        EXPECT_EQ(smbios.EntryMinor(), 6);
        EXPECT_EQ(Serials(smbios, DigestSlots::Id::Chassis), "CHASSIS-0001");
        const FirmwareTable acquired = AcquireFirmwareTable();
        EXPECT_EQ(acquired.source, SerialSource::LegacyScan);
        EXPECT_NE(FindStep(acquired.steps, Kind::DeviceExists), nullptr);
    }
    EXPECT_EQ(HardwareHash(), ReferenceMd5(kSerialDigestInput));
}

TEST_F(MemorySourceTest, DeviceThatCannotBeOpenedDoesNotFallBackToTheRegistry) {
    PutRegistryTable(RegistryEntryPoint(2, 4, static_cast<std::uint16_t>(kSerialTable.size()), 0),
                     kSerialTable);
    const auto paths = UseDevice(dir.Path() + "/mem");  // "exists" but is not there
    const SmBios smbios;
    EXPECT_FALSE(smbios.loaded);
    const FirmwareTable acquired = AcquireFirmwareTable();
    EXPECT_EQ(acquired.source, SerialSource::None);
    EXPECT_NE(FindStep(acquired.steps, Kind::DeviceCannotOpen), nullptr);
    EXPECT_EQ(FindStep(acquired.steps, Kind::RegistryTable), nullptr);  // it holds one
}

TEST_F(MemorySourceTest, ImageWithoutEntryPointGivesAnEmptyObject) {
    const auto paths = UseDevice(MemoryImage().Save(dir));
    const SmBios smbios;
    EXPECT_FALSE(smbios.loaded);
    EXPECT_TRUE(smbios.HeldBytes().empty());
    EXPECT_EQ(smbios.Version(), 0U);
}

// Tables from real machines (tests/data/smbios), served to the legacy scan
// through a memory image.
// Each must index without reading outside the held bytes; where dmidecode is
// at hand the serial numbers must agree with what it prints.

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// dmidecode shows unprintable bytes as dots; this cleaning puts both sides alike.
std::string Dotted(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            c = '.';
        }
    }
    return Trim(out);
}

// Handle -> "Serial Number" value of the structures dmidecode prints.
std::map<unsigned int, std::string> DmidecodeSerials(const std::string& file) {
    std::map<unsigned int, std::string> serials;
    const std::string command = "PATH=\"$PATH:/usr/sbin:/sbin\" dmidecode --from-dump '" + file +
                                "' -t 1,2,3,4 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return serials;
    }
    std::string output;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    pclose(pipe);
    unsigned int handle = 0;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string line = output.substr(start, end - start);
        unsigned int h = 0;
        if (std::sscanf(line.c_str(), "Handle 0x%X,", &h) == 1) {
            handle = h;
        } else if (line.rfind("\tSerial Number: ", 0) == 0) {
            serials[handle] = line.substr(16);
        }
        start = end + 1;
    }
    return serials;
}

bool HaveDmidecode() {
    return std::system("PATH=\"$PATH:/usr/sbin:/sbin\" command -v dmidecode >/dev/null 2>&1") == 0;
}

TEST(RealTables, IndexThroughTheLegacyScanAndAgreeWithDmidecode) {
    const std::filesystem::path tables = grellan::testing::TestDataPath("smbios");
    const bool dmidecode = HaveDmidecode();
    const bool report = std::getenv("GRELLAN_REAL_TABLE_REPORT") != nullptr;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(tables)) {
        if (entry.path().extension() == ".bin") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string dump = ReadFile(file);
        ASSERT_GT(dump.size(), 32U);
        const Bytes bytes(dump.begin(), dump.end());
        constexpr std::uint32_t kTableAddress = 0x1000;
        Bytes ep;
        std::uint32_t stated = 0;
        if (dump.compare(0, 5, "_SM3_") == 0) {
            stated = bytes[0x0C] | (bytes[0x0D] << 8) | (bytes[0x0E] << 16) |
                     (static_cast<std::uint32_t>(bytes[0x0F]) << 24);
            ep = grellan::testing::EntryPoint21(
                bytes[7], bytes[8], static_cast<std::uint16_t>(stated), kTableAddress, 0);
        } else {
            ASSERT_EQ(dump.compare(0, 4, "_SM_"), 0);
            // The machine's own entry point, moved to the image's table address.
            ep.assign(bytes.begin(), bytes.begin() + 0x1F);
            stated = bytes[0x16] | (bytes[0x17] << 8);
            for (int i = 0; i < 4; ++i) {
                ep[0x18 + i] = static_cast<std::uint8_t>(kTableAddress >> (8 * i));
            }
            std::uint8_t sum = 0;
            for (std::size_t i = 0x10; i < 0x1F; ++i) {
                sum = static_cast<std::uint8_t>(sum + (i == 0x15 ? 0 : ep[i]));
            }
            ep[0x15] = static_cast<std::uint8_t>(0x100 - sum);
        }
        MemoryImage image;
        image.Put(kTableAddress, Bytes(bytes.begin() + 32, bytes.end())).Put(0xF0000, ep);
        TempDir dir;
        const ScopedFirmwarePaths scoped(MemoryDeviceAt(image.Save(dir)));

        const SmBios smbios;
        ASSERT_TRUE(smbios.loaded);
        ASSERT_EQ(AcquireFirmwareTable().source, SerialSource::LegacyScan);
        const unsigned char* table = smbios.HeldBytes().data() + 16;
        std::size_t structures = 0;
        std::size_t lastOffset = 0;
        bool end = false;
        for (int type = 0; type < 256; ++type) {
            std::list<SmBios::CStruct*> list;
            smbios.GetStructData(static_cast<unsigned char>(type), list);
            structures += list.size();
            for (const SmBios::CStruct* s : list) {
                const auto offset = static_cast<std::size_t>(
                    reinterpret_cast<const unsigned char*>(s->header) - table);
                EXPECT_LT(offset + s->header->Length, std::size_t{stated} + 1);
                lastOffset = std::max(lastOffset, offset);
                end = end || type == 127;
            }
        }
        EXPECT_GT(structures, 0U);

        std::size_t exact = 0;
        std::size_t cleaned = 0;
        std::size_t differing = 0;
        std::size_t unshown = 0;
        const auto shown =
            dmidecode ? DmidecodeSerials(file) : std::map<unsigned int, std::string>{};
        for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
            for (const DigestSlots::Contribution& c : DigestSlots::Structures(slot, smbios)) {
                if (!dmidecode || !c.stringNumber) {
                    continue;
                }
                const SmBios::CStruct* s = c.structure;
                const auto found = shown.find(s->header->Handle);
                if (found == shown.end()) {
                    ++unshown;
                    continue;
                }
                const unsigned number = *c.stringNumber;
                const std::string& ours = c.serial;
                const std::string raw = number != 0 && number <= s->strings.size()
                                            ? std::string(s->strings[number - 1])
                                            : std::string();
                const std::string theirs = found->second;
                if (number == 0) {
                    // dmidecode's own wording for a field without a string.
                    EXPECT_EQ(theirs.rfind("Not ", 0), 0U) << theirs;
                    EXPECT_EQ(ours, "");
                    ++exact;
                } else if (ours == Trim(theirs)) {
                    ++exact;
                } else if (Dotted(raw) == Dotted(theirs)) {
                    ++cleaned;
                } else {
                    ++differing;
                    ADD_FAILURE() << "type " << int{slot.type} << " handle " << s->header->Handle
                                  << " serial differs from dmidecode's";
                }
            }
        }
        if (report) {
            std::cout << std::filesystem::path(file).filename().string() << " | "
                      << int{smbios.MajorVersion()} << "." << int{smbios.MinorVersion()} << " | "
                      << stated << " | " << dump.size() - 32 << " | " << structures << " | 0x"
                      << std::hex << lastOffset << std::dec << " | " << (end ? "yes" : "no")
                      << " | " << exact << " | " << cleaned << " | " << differing << " | "
                      << unshown << "\n";
        }
    }
}

}  // namespace
