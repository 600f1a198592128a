#include "smbios/Checksum.h"

namespace {

// The 8-bit wrap-around sum of `count` bytes.
template <class Count>
unsigned char Sum(const unsigned char* bytes, Count count) {
    unsigned char sum = 0;
    for (Count i = 0; i < count; ++i) {
        sum = static_cast<unsigned char>(sum + bytes[i]);
    }
    return sum;
}

}  // namespace

unsigned char checksum8(const unsigned char* bytes, unsigned char count) {
    return Sum(bytes, count);
}

bool checksum(const unsigned char* bytes, unsigned long count) {
    return Sum(bytes, count) == 0;
}
