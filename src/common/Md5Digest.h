#pragma once

#include <array>
#include <cstddef>

namespace tirsel::kvl::agent::driver::common {

// The 16-byte MD5 digest of `size` bytes at `data` (RFC 1321), from the
// platform's own one-shot function: CommonCrypto's CC_MD5 (part of libSystem)
// on Apple, OpenSSL's MD5 (linked statically) elsewhere. It cannot fail for
// in-memory input.
using Md5Bytes = std::array<unsigned char, 16>;
Md5Bytes Md5Digest(const void* data, std::size_t size);

}  // namespace tirsel::kvl::agent::driver::common
