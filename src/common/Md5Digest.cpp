#include "common/Md5Digest.h"

#if defined(__APPLE__)
#include <CommonCrypto/CommonDigest.h>
#else
#include <openssl/md5.h>
#endif

#include <limits>

namespace tirsel::kvl::agent::driver::common {

#if defined(__APPLE__)
static_assert(CC_MD5_DIGEST_LENGTH == std::tuple_size<Md5Bytes>::value, "MD5 digest size");
#else
static_assert(MD5_DIGEST_LENGTH == std::tuple_size<Md5Bytes>::value, "MD5 digest size");
#endif

Md5Bytes Md5Digest(const void* data, std::size_t size) {
    Md5Bytes digest{};
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#if defined(__APPLE__)
    // macOS 10.15 deprecates CC_MD5 as a cryptographic hash. Here it is not
    // one: the fingerprint is defined as the MD5 of the serials, and CC_MD5
    // is the one MD5 that every Mac has in libSystem, so the library loads
    // nothing beyond macOS. Its length is a CC_LONG (32 bits); the digest
    // input (four serials) is far below that, and larger input is hashed in
    // pieces through the same context functions, which are equally part of
    // CommonCrypto.
    if (size <= std::numeric_limits<CC_LONG>::max()) {
        CC_MD5(data, static_cast<CC_LONG>(size), digest.data());
    } else {
        CC_MD5_CTX context;
        CC_MD5_Init(&context);
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const CC_LONG piece = size < std::numeric_limits<CC_LONG>::max()
                                      ? static_cast<CC_LONG>(size)
                                      : std::numeric_limits<CC_LONG>::max();
            CC_MD5_Update(&context, bytes, piece);
            bytes += piece;
            size -= piece;
        }
        CC_MD5_Final(digest.data(), &context);
    }
#else
    // OpenSSL 3 deprecates the one-shot MD5 in favour of EVP_Digest, but
    // EVP_Digest fetches a provider on its first use, which costs a fresh
    // process about 0.8 ms; the one-shot function computes the same digest
    // directly.
    MD5(static_cast<const unsigned char*>(data), size, digest.data());
#endif
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return digest;
}

}  // namespace tirsel::kvl::agent::driver::common
