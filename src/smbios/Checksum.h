#pragma once

#include "grellan/grellan.h"

// Both are exported from libgrellan with C++ linkage in the global namespace.

// 8-bit wrap-around sum of `count` bytes (0 for a count of 0).
GRELLAN_EXPORT unsigned char checksum8(const unsigned char* bytes, unsigned char count);
// True when the 8-bit wrap-around sum of `count` bytes is 0 (true for 0 bytes).
GRELLAN_EXPORT bool checksum(const unsigned char* bytes, unsigned long count);
