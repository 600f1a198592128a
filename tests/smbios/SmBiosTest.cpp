#include "smbios/SmBios.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "CaseName.h"
#include "TableBuilder.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::TableBuilder;
using tirsel::kvl::agent::driver::smbios::SmBios;

std::list<SmBios::CStruct*> OfType(const SmBios& table, unsigned char type) {
    std::list<SmBios::CStruct*> out;
    table.GetStructData(type, out);
    return out;
}

std::size_t CountAll(const SmBios& table) {
    std::size_t count = 0;
    for (unsigned type = 0; type < 256; ++type) {
        count += OfType(table, static_cast<unsigned char>(type)).size();
    }
    return count;
}

TEST(SmBiosMap, EndOfTableOnly) {
    const SmBios table(TableBuilder::Snapshot(2, 7, TableBuilder().AddEnd(0x0042).Table()));
    const auto ends = OfType(table, 127);
    ASSERT_EQ(ends.size(), 1U);
    EXPECT_TRUE(ends.front()->strings.empty());
    EXPECT_EQ(table.GetStructData(0x0042U), ends.front());
    EXPECT_EQ(ends.front()->GetString(1), "");
}

TEST(SmBiosMap, StringsAreNumberedFromOne) {
    const SmBios table(TableBuilder::Snapshot(
        2, 7, TableBuilder().Add(1, 1, {0, 0, 0, 0}, {"ABC", "DEF"}).Table()));
    const auto systems = OfType(table, 1);
    ASSERT_EQ(systems.size(), 1U);
    const SmBios::CStruct& s = *systems.front();
    EXPECT_EQ(s.GetString(0), "");
    EXPECT_EQ(s.GetString(1), "ABC");
    EXPECT_EQ(s.GetString(2), "DEF");
    EXPECT_EQ(s.GetString(3), "");
    EXPECT_EQ(s.GetString(~0UL), "");
}

TEST(SmBiosMap, StructureWithoutStringsIsFollowedByTwoZeroBytes) {
    const SmBios table(TableBuilder::Snapshot(
        2, 7, TableBuilder().Add(2, 5, {1, 2}).Add(3, 6, {0, 0, 0, 1}, {"X"}).AddEnd().Table()));
    ASSERT_EQ(OfType(table, 2).size(), 1U);
    ASSERT_EQ(OfType(table, 3).size(), 1U);
    EXPECT_EQ(OfType(table, 2).front()->GetString(1), "");
    EXPECT_EQ(OfType(table, 3).front()->GetString(1), "X");
    EXPECT_EQ(OfType(table, 3).front()->header->Handle, 6);
}

TEST(SmBiosMap, TypeListsKeepTableOrderAndHandlesTakeTheLaterStructure) {
    const SmBios table(TableBuilder::Snapshot(2, 7,
                                              TableBuilder()
                                                  .Add(4, 7, {}, {"first"})
                                                  .Add(4, 7, {}, {"second"})
                                                  .AddEnd()
                                                  .Add(4, 9, {}, {"after end"})
                                                  .Table()));
    const auto processors = OfType(table, 4);
    ASSERT_EQ(processors.size(), 3U);
    EXPECT_EQ(processors.front()->GetString(1), "first");
    EXPECT_EQ((*std::next(processors.begin()))->GetString(1), "second");
    EXPECT_EQ(processors.back()->GetString(1), "after end");
    EXPECT_EQ(table.GetStructData(7U)->GetString(1), "second");
    EXPECT_EQ(table.GetStructData(8U), nullptr);
}

TEST(SmBiosMap, GetStructDataEmptiesTheListForAnAbsentType) {
    const SmBios table(TableBuilder::Snapshot(2, 7, TableBuilder().Add(4, 1, {}).Table()));
    std::list<SmBios::CStruct*> out;
    table.GetStructData(4, out);
    ASSERT_EQ(out.size(), 1U);
    table.GetStructData(2, out);
    EXPECT_TRUE(out.empty());
}

struct CleaningCase {
    const char* name;
    std::string raw;
    std::string served;
};

class SmBiosGetString : public ::testing::TestWithParam<CleaningCase> {};

TEST_P(SmBiosGetString, ReplacesUnprintableBytesAndTrims) {
    const SmBios table(
        TableBuilder::Snapshot(2, 7, TableBuilder().Add(1, 1, {}, {GetParam().raw}).Table()));
    EXPECT_EQ(OfType(table, 1).front()->GetString(1), GetParam().served);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmBiosGetString,
    ::testing::Values(CleaningCase{"TabInsideTrailingSpaces", "AB\tCD   ", "AB CD"},
                      CleaningCase{"DelStays",
                                   "A\x7F"
                                   "B\x7F",
                                   "A\x7F"
                                   "B\x7F"},
                      CleaningCase{"HighBytesBecomeBlanks", "\x80X\xFFY\xA0", "X Y"},
                      CleaningCase{"ControlBytesBecomeBlanks",
                                   "\x01\x1F"
                                   "Z\x1B",
                                   "Z"},
                      CleaningCase{"OnlyUnprintable", "\x81\x82\t", ""}),
    grellan::testing::CaseName());

TEST(SmBiosVersion, ReadsThePrefix) {
    const SmBios v23(TableBuilder::Snapshot(2, 3, TableBuilder().AddEnd().Table()));
    const SmBios v22(TableBuilder::Snapshot(2, 2, TableBuilder().AddEnd().Table()));
    EXPECT_EQ(v23.Version(), 0x0203U);
    EXPECT_EQ(v23.MajorVersion(), 2);
    EXPECT_EQ(v23.MinorVersion(), 3);
    EXPECT_EQ(v22.Version(), 0x0202U);
}

TEST(SmBiosVersion, ClearedTableReportsZero) {
    SmBios table(TableBuilder::Snapshot(3, 1, TableBuilder().AddEnd().Table()));
    table.Clear();
    EXPECT_EQ(table.Version(), 0U);
    EXPECT_EQ(table.MajorVersion(), 0);
    EXPECT_EQ(table.MinorVersion(), 0);
    EXPECT_EQ(CountAll(table), 0U);
    EXPECT_FALSE(table.loaded);
}

// Malformed tables: the walk stops at the first bad structure and keeps the
// ones before it, never reading outside the held bytes.
struct MalformedCase {
    const char* name;
    Bytes table;
    std::uint32_t statedLength;
    std::size_t indexed;
};

Bytes GoodPair() {
    return TableBuilder().Add(1, 1, {0, 0, 0, 1}, {"S"}).Add(2, 2, {}).Table();
}

Bytes With(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class SmBiosMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(SmBiosMalformed, IndexesUpToTheFirstBadStructure) {
    const MalformedCase& c = GetParam();
    const SmBios table(
        TableBuilder::Base64(TableBuilder::HeldBytes(2, 8, c.table, 0, c.statedLength)));
    EXPECT_EQ(CountAll(table), c.indexed);
}

const std::size_t kGood = GoodPair().size();

INSTANTIATE_TEST_SUITE_P(
    Cases, SmBiosMalformed,
    ::testing::Values(MalformedCase{"WellFormed", GoodPair(), static_cast<std::uint32_t>(kGood), 2},
                      MalformedCase{"StatedLengthZero", GoodPair(), 0, 0},
                      MalformedCase{"StatedBeyondHeldBytes", GoodPair(), 0xFFFFFFFF, 2},
                      MalformedCase{"StatedEndsInsideSecond", GoodPair(),
                                    static_cast<std::uint32_t>(kGood - 1), 1},
                      MalformedCase{"LengthBelowFour", With(GoodPair(), {9, 3, 0, 0, 0, 0}),
                                    static_cast<std::uint32_t>(kGood + 6), 2},
                      MalformedCase{"ZeroLengthHeader",
                                    With(GoodPair(), {0, 0, 0, 0, 0, 0, 1, 4, 0, 0, 0, 0}),
                                    static_cast<std::uint32_t>(kGood + 12), 2},
                      MalformedCase{"PartialHeader", With(GoodPair(), {1, 8}),
                                    static_cast<std::uint32_t>(kGood + 2), 2},
                      MalformedCase{"FormattedAreaPastEnd", With(GoodPair(), {1, 0x40, 0, 0, 1, 2}),
                                    static_cast<std::uint32_t>(kGood + 6), 2},
                      MalformedCase{"UnterminatedString", With(GoodPair(), {1, 4, 0, 0, 'A', 'B'}),
                                    static_cast<std::uint32_t>(kGood + 6), 2},
                      MalformedCase{"MissingSetTerminator", With(GoodPair(), {1, 4, 0, 0, 'A', 0}),
                                    static_cast<std::uint32_t>(kGood + 6), 2},
                      MalformedCase{"MissingSecondZero", With(GoodPair(), {1, 4, 0, 0, 0}),
                                    static_cast<std::uint32_t>(kGood + 5), 2}),
    grellan::testing::CaseName());

TEST(SmBiosMalformed, StringsOfTheLastStructureStayInsideTheHeldBytes) {
    // The stated length covers a string whose terminator is missing: the
    // structure is dropped rather than served past the end.
    const SmBios table(
        TableBuilder::Base64(TableBuilder::HeldBytes(2, 8, {1, 4, 0, 0, 'A', 'B', 'C'}, 0, 7)));
    EXPECT_EQ(CountAll(table), 0U);
}

}  // namespace
