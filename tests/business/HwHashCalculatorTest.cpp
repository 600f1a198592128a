#include "business/HwHashCalculator.h"

#include <gtest/gtest.h>

#include <string>

#include "CaseName.h"
#include "TableBuilder.h"
#include "TempDir.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::ReferenceMd5;
using grellan::testing::TableBuilder;
using tirsel::kvl::agent::driver::business::HardwareSerials;
using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::smbios::SmBios;

struct TableCase {
    const char* name;
    std::uint8_t major;
    std::uint8_t minor;
    Bytes table;
    // Chassis, system, baseboard, processor, as they must enter the digest.
    std::string digestInput;
};

Bytes Typical() {
    return TableBuilder()
        .AddSerial(1, 1, "SYS-1")
        .AddSerial(2, 2, "BOARD-2")
        .AddSerial(3, 3, "CHASSIS-3")
        .AddSerial(4, 4, "CPU-4")
        .AddEnd()
        .Table();
}

Bytes ShortProcessor() {
    // A 2.0-era processor structure: 0x1A bytes, no SerialNumber field; the
    // byte that would be at 0x20 belongs to its string-set.
    Bytes formatted(0x1A - 4, 0);
    return TableBuilder()
        .Add(4, 4, formatted, {"0123456789", "abc"})
        .AddSerial(1, 1, "SYS")
        .Table();
}

Bytes Messy() {
    Bytes system(4, 0);
    system[3] = 2;  // SerialNumber names the second string
    return TableBuilder()
        .Add(1, 1, system, {"ignored", "\t S\x01N\x7F\xE9 \r"})
        .AddSerial(3, 3,
                   "  \xA0"
                   "C\xA0  ")
        .Table();
}

class HwHashFromTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(HwHashFromTable, DigestInputAndHashMatchAnIndependentMd5) {
    const TableCase& c = GetParam();
    const SmBios table(TableBuilder::Snapshot(c.major, c.minor, c.table));
    HwHashCalculator calculator;
    const HardwareSerials serials = calculator.SerialsFromTable(table);
    EXPECT_EQ(HwHashCalculator::DigestInput(serials), c.digestInput);
    // The typed reader reads a slot as the calculator does.
    EXPECT_EQ(calculator.LoadSmBiosSerial<SmBios::_CHASSIS>(3, table), serials.chassis);
    const std::string hash = HwHashCalculator::HashText(serials);
    EXPECT_EQ(hash, ReferenceMd5(c.digestInput));
    EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HwHashFromTable,
    ::testing::Values(
        TableCase{"Typical23", 2, 3, Typical(), "CHASSIS-3SYS-1BOARD-2CPU-4"},
        TableCase{"Version22SkipsProcessors", 2, 2, Typical(), "CHASSIS-3SYS-1BOARD-2"},
        TableCase{"Version30ReadsProcessors", 3, 0, Typical(), "CHASSIS-3SYS-1BOARD-2CPU-4"},
        TableCase{"SeveralOfOneTypeConcatenate", 2, 8,
                  TableBuilder()
                      .AddSerial(4, 10, "AB12")
                      .AddSerial(1, 1, "S")
                      .AddSerial(4, 11, "CD34")
                      .Table(),
                  "SAB12CD34"},
        TableCase{"SerialNumberZeroContributesNothing", 2, 8,
                  TableBuilder().AddSerial(1, 1, "").AddSerial(2, 2, "B").Table(), "B"},
        TableCase{"NoStructuresAtAll", 2, 8, TableBuilder().AddEnd().Table(), ""},
        TableCase{"ShortProcessorStructureGivesNothing", 2, 8, ShortProcessor(), "SYS"},
        TableCase{"CleanedAndTrimmed", 2, 8, Messy(), "CS N\x7F"}),
    grellan::testing::CaseName());

TEST(HwHashText, EmptyInputIsTheMd5OfNothing) {
    EXPECT_EQ(HwHashCalculator::HashText(HardwareSerials{}), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(HwHashText, OrderIsChassisSystemBaseboardProcessor) {
    HardwareSerials serials;
    serials.processor = "p";
    serials.chassis = "c";
    serials.system = "s";
    serials.baseboard = "b";
    EXPECT_EQ(HwHashCalculator::DigestInput(serials), "csbp");
    EXPECT_EQ(HwHashCalculator::HashText(serials), ReferenceMd5("csbp"));
}

}  // namespace
