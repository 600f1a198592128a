#include "smbios/Checksum.h"

unsigned char checksum8(const unsigned char* bytes, unsigned char count) {
    unsigned char sum = 0;
    for (unsigned char i = 0; i < count; ++i) {
        sum = static_cast<unsigned char>(sum + bytes[i]);
    }
    return sum;
}

bool checksum(const unsigned char* bytes, unsigned long count) {
    unsigned char sum = 0;
    for (unsigned long i = 0; i < count; ++i) {
        sum = static_cast<unsigned char>(sum + bytes[i]);
    }
    return sum == 0;
}
