#include <gtest/gtest.h>

#include <iomanip>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FirmwarePathsOverride.h"
#include "RegistryStandIn.h"
#include "TableBuilder.h"
#include "smbios/SmBios.h"

namespace {

using grellan::testing::Bytes;
using grellan::testing::TableBuilder;
using tirsel::kvl::agent::driver::platform::ScopedFirmwarePaths;
using tirsel::kvl::agent::driver::platform::WithoutMemoryDevice;
using tirsel::kvl::agent::driver::smbios::SmBios;

void ExpectNotLoadable(const std::string& text) {
    try {
        const SmBios smbios(text);
        ADD_FAILURE() << "no exception for \"" << text << "\"";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "SmBios can not be loaded");
    }
}

// A random well-formed table: structures of random types, handles, formatted
// bytes and strings.
Bytes RandomTable(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> printable(0x21, 0x7E);
    TableBuilder builder;
    const int count = std::uniform_int_distribution<int>(1, 40)(random);
    for (int i = 0; i < count; ++i) {
        Bytes formatted(std::uniform_int_distribution<std::size_t>(0, 60)(random));
        for (auto& b : formatted) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        std::vector<std::string> strings(std::uniform_int_distribution<std::size_t>(0, 4)(random));
        for (auto& s : strings) {
            s.resize(std::uniform_int_distribution<std::size_t>(1, 30)(random));
            for (char& c : s) {
                c = static_cast<char>(printable(random));
            }
        }
        builder.Add(static_cast<std::uint8_t>(byte(random) % 127), static_cast<std::uint16_t>(i),
                    formatted, strings);
    }
    return builder.AddEnd().Table();
}

TEST(SmBiosSnapshot, RandomTablesSurviveTheRoundTrip) {
    std::mt19937 random(20240517);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const Bytes table = RandomTable(random);
        const Bytes held = TableBuilder::HeldBytes(2, static_cast<std::uint8_t>(round % 9), table,
                                                   static_cast<std::uint8_t>(round));
        const std::string text = TableBuilder::Base64(held);

        SmBios decoded(text);
        EXPECT_EQ(decoded.HeldBytes(), held);
        EXPECT_FALSE(decoded.loaded);
        decoded.EncodeBinaryData();
        EXPECT_EQ(decoded.SnapshotText(), text);

        const SmBios copy(decoded.SnapshotText());
        EXPECT_TRUE(copy == decoded);
        EXPECT_FALSE(copy != decoded);
        EXPECT_EQ(copy.Version(), decoded.Version());
        std::list<SmBios::CStruct*> a;
        std::list<SmBios::CStruct*> b;
        copy.GetStructData(127, a);
        decoded.GetStructData(127, b);
        EXPECT_EQ(a.size(), b.size());
    }
}

// Tools that read a table from a file index its bytes directly: the same
// object as from the bytes' text.
TEST(SmBiosFromHeldBytes, SameTableAndTextAsFromTheSnapshotText) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        const Bytes held =
            TableBuilder::HeldBytes(3, static_cast<std::uint8_t>(round % 9), RandomTable(random));
        const SmBios fromText(TableBuilder::Base64(held));
        const SmBios fromBytes(held);
        EXPECT_EQ(fromBytes.HeldBytes(), held);
        EXPECT_EQ(fromBytes.SnapshotText(), fromText.SnapshotText());
        EXPECT_FALSE(fromBytes.loaded);
        for (unsigned type = 0; type < 128; ++type) {
            std::list<SmBios::CStruct*> a;
            std::list<SmBios::CStruct*> b;
            fromBytes.GetStructData(static_cast<unsigned char>(type), a);
            fromText.GetStructData(static_cast<unsigned char>(type), b);
            ASSERT_EQ(a.size(), b.size()) << "type " << type;
        }
    }
    for (const std::size_t size : {0U, 15U}) {
        try {
            const SmBios smbios(Bytes(size, 0));
            ADD_FAILURE() << "no exception for " << size << " bytes";
        } catch (const std::logic_error& error) {
            EXPECT_STREQ(error.what(), "SmBios can not be loaded");
        }
    }
}

TEST(SmBiosSnapshot, TwentyTwoBytesMakeThirtyTwoCharacters) {
    const Bytes held = TableBuilder::HeldBytes(2, 4, TableBuilder().AddEnd().Table());
    ASSERT_EQ(held.size(), 22U);
    SmBios smbios(TableBuilder::Base64(held));
    smbios.EncodeBinaryData();
    EXPECT_EQ(smbios.SnapshotText().size(), 32U);
    EXPECT_EQ(smbios.SnapshotText().substr(30), "==");
    std::list<SmBios::CStruct*> end;
    smbios.GetStructData(127, end);
    EXPECT_EQ(end.size(), 1U);
}

TEST(SmBiosSnapshot, DecodesTextOfEveryLength) {
    // Texts cut short of a whole group, unpadded: up to two bytes beyond the
    // complete groups. Checked byte for byte (and by AddressSanitizer).
    const Bytes held = TableBuilder::HeldBytes(
        3, 2, TableBuilder().AddSerial(1, 1, "SERIAL").AddEnd().Table(), 0x32);
    std::string full = TableBuilder::Base64(held);
    full.erase(full.find('='));
    for (std::size_t length = 22; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        std::string text = full.substr(0, length);
        const std::size_t bytes = length / 4 * 3 + (length % 4 == 0 ? 0 : length % 4 - 1);
        const SmBios smbios(text);
        EXPECT_EQ(smbios.HeldBytes(),
                  Bytes(held.begin(), held.begin() + std::min(bytes, held.size())));
    }
}

TEST(SmBiosSnapshot, TextAfterThePaddingIsIgnoredButKept) {
    const std::string text = TableBuilder::Snapshot(2, 4, TableBuilder().AddEnd().Table());
    const SmBios plain(text);
    const SmBios trailing(text + "QUJD");
    const SmBios junk(text.substr(0, 28) + "!QUJD");
    EXPECT_EQ(trailing.HeldBytes(), plain.HeldBytes());
    EXPECT_EQ(junk.HeldBytes(), Bytes(plain.HeldBytes().begin(), plain.HeldBytes().begin() + 21));
    EXPECT_EQ(trailing.SnapshotText(), text + "QUJD");
    EXPECT_TRUE(trailing != plain);
}

TEST(SmBiosSnapshot, TextTooShortForThePrefixIsRejected) {
    for (const std::string text :
         {"", "AAAA", "AAAAAAAAAAAAAAAAAAAA", "AAAAAAAAAAAAAAAAAAAAA",
          "AAAAAAAAAAAAAAAAAAAA====", "=AAAAAAAAAAAAAAAAAAAAAAAAAA", "!!!!!!!!!!!!!!!!!!!!!!!!"}) {
        SCOPED_TRACE(text);
        ExpectNotLoadable(text);
    }
}

TEST(SmBiosSnapshot, StatedLengthBeyondTheBytesIsIndexedAsFarAsTheyGo) {
    const Bytes table = TableBuilder().AddSerial(1, 1, "SERIAL").AddSerial(2, 2, "BOARD").Table();
    // States 0x4000 bytes; the second structure is cut inside its string.
    Bytes held = TableBuilder::HeldBytes(2, 4, table, 0, 0x4000);
    held.resize(held.size() - 3);
    const SmBios smbios(TableBuilder::Base64(held));
    std::list<SmBios::CStruct*> system;
    smbios.GetStructData(1, system);
    ASSERT_EQ(system.size(), 1U);
    EXPECT_EQ(system.front()->GetString(1), "SERIAL");
    EXPECT_EQ(smbios.GetStructData(2U), nullptr);
}

TEST(SmBiosSnapshot, ObjectsWithoutATableHaveEmptyText) {
    tirsel::kvl::agent::driver::platform::standin::ScopedRegistry registry;
    const ScopedFirmwarePaths noDevice(WithoutMemoryDevice());

    const SmBios first;
    const SmBios second;
    const SmBios table(TableBuilder::Snapshot(2, 4, TableBuilder().AddEnd().Table()));
    EXPECT_TRUE(first == second);
    EXPECT_TRUE(first != table);
    EXPECT_TRUE(table != first);

    std::ostringstream empty;
    empty << '[' << first << ']';
    EXPECT_EQ(empty.str(), "[]");
    std::ostringstream padded;
    padded << std::setw(36) << std::setfill('.') << table;
    EXPECT_EQ(padded.str(), "...." + table.SnapshotText());
}

}  // namespace
