#include <gtest/gtest.h>

#include <list>

#include "CaseName.h"
#include "TableBuilder.h"
#include "smbios/SmBios.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::TableBuilder;
using tirsel::kvl::agent::driver::smbios::SmBios;
using tirsel::kvl::agent::driver::smbios::TableWalkEnd;
using tirsel::kvl::agent::driver::smbios::WalkTable;
using Reason = TableWalkEnd::Reason;

// A good first structure (Length 8, string "S": 11 bytes), then `rest`.
Bytes After(const Bytes& rest) {
    return TableBuilder().AddSerial(1, 1, "S").AddRaw(rest).Table();
}

struct WalkCase {
    const char* name;
    Bytes table;
    Reason reason;
    std::size_t offset;
    std::size_t indexed;
};

class TableWalk : public ::testing::TestWithParam<WalkCase> {};

// The walk says where and why it ended, and Map indexes exactly the
// structures before that point.
TEST_P(TableWalk, SaysWhereAndWhyAndMatchesMap) {
    const Bytes held = TableBuilder::HeldBytes(2, 8, GetParam().table);
    const TableWalkEnd end = WalkTable(held);
    EXPECT_EQ(end.reason, GetParam().reason);
    EXPECT_EQ(end.offset, GetParam().offset);
    EXPECT_EQ(end.indexed, GetParam().indexed);

    const SmBios table(TableBuilder::Base64(held));
    std::size_t indexed = 0;
    std::list<SmBios::CStruct*> structures;
    for (unsigned type = 0; type < 256; ++type) {
        table.GetStructData(static_cast<unsigned char>(type), structures);
        indexed += structures.size();
    }
    EXPECT_EQ(indexed, GetParam().indexed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TableWalk,
    ::testing::Values(WalkCase{"Complete", After({127, 4, 0, 0, 0, 0}), Reason::Complete, 17, 2},
                      WalkCase{"ZeroLength", After({127, 0, 0, 0, 0, 0}), Reason::LengthBelow4, 11,
                               1},
                      WalkCase{"FormattedAreaPastTheEnd", After({2, 0x20, 2, 0, 0, 0}),
                               Reason::RunsPastTable, 11, 1},
                      WalkCase{"HeaderCut", After({2, 8}), Reason::RunsPastTable, 11, 1},
                      WalkCase{"StringNeverEnds", After({127, 4, 0, 0, 'A', 'B'}),
                               Reason::NoStringTerminator, 11, 1},
                      WalkCase{"StringSetNeverEnds", After({127, 4, 0, 0, 'A', 0}),
                               Reason::RunsPastTable, 11, 1}),
    grellan::testing::CaseName());

TEST(TableWalkText, NamesEachReason) {
    EXPECT_STREQ(TableWalkEnd::ReasonText(Reason::LengthBelow4), "length below 4");
    EXPECT_STREQ(TableWalkEnd::ReasonText(Reason::RunsPastTable), "runs past the table");
    EXPECT_STREQ(TableWalkEnd::ReasonText(Reason::NoStringTerminator), "no string terminator");
}

}  // namespace
