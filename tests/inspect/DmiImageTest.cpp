#include "inspect/DmiImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "MemoryImage.h"
#include "TableBuilder.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::EntryPoint3;
using grellan::testing::TableBuilder;
using tirsel::kvl::agent::driver::inspect::DmiImage;

Bytes DumpBin(const Bytes& ep, const Bytes& table) {
    Bytes image = ep;
    image.resize(32, 0);
    image.insert(image.end(), table.begin(), table.end());
    return image;
}

const Bytes kTable = TableBuilder().AddSerial(1, 1, "S").AddEnd().Table();

TEST(DmiImage, DumpBinWith64BitEntryPoint) {
    const auto loaded =
        DmiImage::FromBytes(DumpBin(EntryPoint3(3, 4, kTable.size(), 32), kTable), {});
    EXPECT_EQ(loaded.heldBytes, TableBuilder::HeldBytes(3, 4, kTable, 0x34));
}

TEST(DmiImage, MaximumLengthBeyondTheFileKeepsWhatThereIs) {
    // As on real firmware that announces more than it provides.
    const auto loaded = DmiImage::FromBytes(DumpBin(EntryPoint3(3, 5, 5809, 32), kTable), {});
    EXPECT_EQ(loaded.heldBytes, TableBuilder::HeldBytes(3, 5, kTable, 0x35));
    EXPECT_NE(loaded.steps.back().find("keeping what there is"), std::string::npos);
}

TEST(DmiImage, RawTableTakesItsVersionFromTheSeparateEntryPoint) {
    const auto loaded = DmiImage::FromBytes(kTable, EntryPoint3(3, 0, kTable.size(), 0x7FFF0000));
    EXPECT_EQ(loaded.heldBytes, TableBuilder::HeldBytes(3, 0, kTable, 0x30));
}

TEST(DmiImage, Refusals) {
    EXPECT_THROW(DmiImage::FromBytes(kTable, {}), std::runtime_error);  // no entry point
    EXPECT_THROW(DmiImage::FromBytes(EntryPoint3(3, 0, 10, 4096), {}), std::runtime_error);
    Bytes shortEp = EntryPoint3(3, 0, 10, 32);
    shortEp.resize(0x10);
    EXPECT_THROW(DmiImage::FromBytes(shortEp, {}), std::runtime_error);
}

}  // namespace
