#include "common/Md5Digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tirsel::kvl::agent::driver::common {
namespace {

struct VectorCase {
    const char* name;
    std::string input;
    const char* digest;
};

std::string Hex(const Md5Bytes& digest) {
    std::string text;
    for (const unsigned char byte : digest) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
    }
    return text;
}

class Md5DigestTest : public testing::TestWithParam<VectorCase> {};

// The test suite of RFC 1321, appendix A.5: whichever platform function
// computes the digest, it is this MD5.
TEST_P(Md5DigestTest, MatchesTheRfc1321TestSuite) {
    EXPECT_EQ(Hex(Md5Digest(GetParam().input.data(), GetParam().input.size())), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc1321, Md5DigestTest,
    testing::Values(
        VectorCase{"Empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        VectorCase{"A", "a", "0cc175b9c0f1b6a831c399e269772661"},
        VectorCase{"Abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        VectorCase{"MessageDigest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        VectorCase{"Alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        VectorCase{"AlphaNumeric", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                   "d174ab98d277d9f5a5611c2c9f419d9f"},
        VectorCase{"EightTimesDigits",
                   "1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890",
                   "57edf4a22be3c955ac49da2e2107b67a"}),
    [](const testing::TestParamInfo<VectorCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tirsel::kvl::agent::driver::common
