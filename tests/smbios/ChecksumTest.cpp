#include "smbios/Checksum.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Checksum, SumsBytesModulo256) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        unsigned char sum;
    };
    const std::vector<Case> cases = {
        {"no bytes", {}, 0},
        {"0x10 0xF0 wraps to zero", {0x10, 0xF0}, 0},
        {"1 2 3", {1, 2, 3}, 6},
        {"0xFF 0x02 wraps to one", {0xFF, 0x02}, 1},
        {"255 bytes of 0xFF", std::vector<unsigned char>(255, 0xFF), 1},
        {"a valid intermediate entry point",
         {'_', 'D', 'M', 'I', '_', 0x9B, 0x52, 0x0A, 0x00, 0x10, 0x0F, 0x00, 0x2B, 0x00, 0x27},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checksum8(c.bytes.data(), static_cast<unsigned char>(c.bytes.size())), c.sum);
        EXPECT_EQ(checksum(c.bytes.data(), c.bytes.size()), c.sum == 0);
    }
}

TEST(Checksum, ReadsOnlyTheCountedBytes) {
    const unsigned char bytes[] = {0x80, 0x80, 0x01};
    EXPECT_EQ(checksum8(bytes, 2), 0);
    EXPECT_TRUE(checksum(bytes, 2));
    EXPECT_FALSE(checksum(bytes, 3));
    EXPECT_TRUE(checksum(nullptr, 0));
    EXPECT_EQ(checksum8(nullptr, 0), 0);
}

}  // namespace
