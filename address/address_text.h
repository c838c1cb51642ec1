// Tag address texts: two hexadecimal digits of PLC number, five octal digits
// of V-memory address, and an optional eighth character ('L' 32-bit integer,
// 'F' float, or a hexadecimal bit number).
#pragma once

#include <stdint.h>

constexpr int kAddressMaxLength = 8;
constexpr uint32_t kMemoryTypeV = 0x31;  // the character '1'
constexpr int32_t kMaxBlockWords = 128;  // 256 data bytes of 16-bit words
constexpr int32_t kMaxBlockLongs = 64;   // 256 data bytes of 32-bit values

// The characters accepted at each of the eight positions, after upper-casing.
inline constexpr const char *AddressCharSets[kAddressMaxLength] = {
    "0123456789ABCDEF", "0123456789ABCDEF", "01234567", "01234567",
    "01234567",         "01234567",         "01234567", "0123456789ABCDEFL",
};
