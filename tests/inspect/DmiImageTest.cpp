#include "inspect/DmiImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "CaseName.h"
#include "MemoryImage.h"
#include "TableBuilder.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::EntryPoint21;
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

TEST(DmiImage, StatedLengthBeyondTheFileKeepsWhatThereIs) {
    // As on real firmware that announces more than it provides.
    const auto loaded =
        DmiImage::FromBytes(DumpBin(EntryPoint21(2, 7, 5809, 32, 0x27), kTable), {});
    EXPECT_EQ(loaded.heldBytes, TableBuilder::HeldBytes(2, 7, kTable, 0x27));
    EXPECT_NE(loaded.steps.back().find("keeping what there is"), std::string::npos);
}

TEST(DmiImage, RawTableTakesItsVersionFromTheSeparateEntryPoint) {
    const auto loaded =
        DmiImage::FromBytes(kTable, EntryPoint21(2, 8, kTable.size(), 0x7FFF0000, 0x28));
    EXPECT_EQ(loaded.heldBytes, TableBuilder::HeldBytes(2, 8, kTable, 0x28));
}

struct RefusalCase {
    const char* name;
    Bytes image;
    Bytes entryPoint;
    std::string message;
};

class DmiImageRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(DmiImageRefusal, SaysWhy) {
    try {
        DmiImage::FromBytes(GetParam().image, GetParam().entryPoint);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

Bytes ShortEntryPoint() {
    Bytes ep = EntryPoint21(2, 7, 10, 32, 0);
    ep.resize(0x10);
    return ep;
}

// The library reads no 64-bit entry point, so neither does the inspector.
const std::string kNot64Bit = "libgrellan does not read such an entry point";

INSTANTIATE_TEST_SUITE_P(
    Cases, DmiImageRefusal,
    ::testing::Values(RefusalCase{"NoEntryPoint", kTable, {}, "no SMBIOS entry point"},
                      RefusalCase{"TableAddressPastTheFile",
                                  EntryPoint21(2, 7, 10, 4096, 0),
                                  {},
                                  "past the file"},
                      RefusalCase{"ShortEntryPoint", ShortEntryPoint(), {}, "shorter than 31"},
                      RefusalCase{"DumpBinWith64BitEntryPoint",
                                  DumpBin(EntryPoint3(3, 4, kTable.size(), 32), kTable),
                                  {},
                                  kNot64Bit},
                      RefusalCase{"RawTableWith64BitEntryPoint", kTable,
                                  EntryPoint3(3, 0, kTable.size(), 0x7FFF0000), kNot64Bit}),
    grellan::testing::CaseName());

}  // namespace
