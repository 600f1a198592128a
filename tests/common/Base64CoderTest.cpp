#include "common/Base64Coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CaseName.h"
#include "TableBuilder.h"

namespace tirsel::kvl::agent::driver::common {
namespace {

using Bytes = std::vector<unsigned char>;

// An encoder written apart from the library's.
std::string Encode(const Bytes& bytes) {
    return grellan::testing::TableBuilder::Base64(bytes);
}

struct BytesCase {
    const char* name;
    std::string text;
    Bytes expected;
};

class DecodeBytesTest : public testing::TestWithParam<BytesCase> {};

TEST_P(DecodeBytesTest, DecodesUpToTheFirstByteOutsideTheAlphabet) {
    EXPECT_EQ(Base64Coder().DecodeBytes(GetParam().text), GetParam().expected);
}

const Bytes kABC = {0x41, 0x42, 0x43};

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeBytesTest,
    testing::Values(BytesCase{"Empty", "", {}}, BytesCase{"OnlyWhiteSpace", " \t\n\r\v\f ", {}},
                    BytesCase{"OneGroup", "QUJD", kABC},
                    BytesCase{"IndentedOverLines", "\n\t\tQU\n\t\tJ D \n", kABC},
                    BytesCase{"OuterVerticalTabAndCarriageReturnTrimmed", "\v\f QUJD\r\n", kABC},
                    BytesCase{"TwoSymbols", "QQ", {0x41}},
                    BytesCase{"TwoSymbolsPadded", "QQ==", {0x41}},
                    BytesCase{"ThreeSymbols", "QUI", {0x41, 0x42}},
                    BytesCase{"ThreeSymbolsPadded", "QUI=", {0x41, 0x42}},
                    BytesCase{"LowBitsOfLastSymbolDropped", "QR", {0x41}},
                    BytesCase{"LoneSymbol", "Q", {}}, BytesCase{"FiveSymbols", "QUJDR", kABC},
                    BytesCase{"PlusAndSlash", "/+8=", {0xFF, 0xEF}},
                    BytesCase{"EarlyPad", "QQ==QUJD", {0x41}},
                    BytesCase{"CarriageReturnInsideStops", "QUJD\r\nREVG", kABC},
                    BytesCase{"VerticalTabInsideStops", "QUJD\vREVG", kABC},
                    BytesCase{"UrlSafeMinus", "QUJD-REVG", kABC},
                    BytesCase{"UrlSafeUnderscore", "QU_D", {0x41}},
                    BytesCase{"HighByte", "QUJD\xC3\xA9REVG", kABC},
                    BytesCase{"ZeroByte", std::string("QUJD\0REVG", 9), kABC}),
    grellan::testing::CaseName());

TEST(Base64CoderTest, DecodesEveryByteValueFromIndentedLines) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<unsigned char>(i);
    }
    const std::string encoded = Encode(all);
    std::string dump = "\n";
    for (std::size_t i = 0; i < encoded.size(); i += 76) {
        dump += "\t\t" + encoded.substr(i, 76) + "\n";
    }
    EXPECT_EQ(Base64Coder().DecodeBytes(dump), all);
}

struct RunsCase {
    const char* name;
    Bytes bytes;
    std::vector<std::string> expected;
};

class DecodeStringBytesTest : public testing::TestWithParam<RunsCase> {};

TEST_P(DecodeStringBytesTest, CutsAtEveryUnprintableByte) {
    EXPECT_EQ(Base64Coder().DecodeStringBytes(Encode(GetParam().bytes)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeStringBytesTest,
    testing::Values(RunsCase{"Empty", {}, {}},
                    RunsCase{"EmptyRunBetweenZeros", {'A', 0, 0, 'B'}, {"A", "", "B"}},
                    RunsCase{"NoEmptyRunAtTheEnd", {'A', 'B', 0}, {"AB"}},
                    RunsCase{"EmptyRunAtTheStart", {0, 'A'}, {"", "A"}},
                    RunsCase{"HighByteSeparates", {'A', 0xE9, 'B'}, {"A", "B"}},
                    RunsCase{"PrintableBounds", {0x7F, 0x20, 0x7E, 0x1F}, {"", " ~"}}),
    grellan::testing::CaseName());

TEST(Base64CoderTest, DecodeIntegerReadsTheFirstEightBytesLittleEndian) {
    const struct {
        Bytes bytes;
        std::uint64_t expected;
    } cases[] = {
        {{}, 0},
        {{0x01}, 1},
        {{0x01, 0, 0, 0, 0, 0, 0, 0x80}, 0x8000000000000001ULL},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0x0807060504030201ULL},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ~std::uint64_t{0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Coder().DecodeInteger(Encode(c.bytes)), c.expected) << Encode(c.bytes);
    }
}

// The snapshot text's two directions: standard padded text, and decoding of the
// text as it stands (white space ends it, as any byte outside the alphabet).
TEST(Base64CoderTest, EncodeAndDecodeTheTextAsItStands) {
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                 {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        const Bytes bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(Base64Coder::Encode(bytes.data(), bytes.size()), c.text) << c.bytes;
        EXPECT_EQ(Base64Coder::Decode(c.text), bytes) << c.text;
    }
    EXPECT_EQ(Base64Coder::Decode("Zm9v Ym Fy"), Bytes({'f', 'o', 'o'}));
    EXPECT_EQ(Base64Coder::Decode("\tZm9v"), Bytes());
}

}  // namespace
}  // namespace tirsel::kvl::agent::driver::common
