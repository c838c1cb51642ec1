// Tag address texts: two hexadecimal digits of PLC number, five octal digits
// of V-memory address, and an optional eighth character ('L' 32-bit integer,
// 'F' float, or a hexadecimal bit number).
#pragma once

#include <stdint.h>

#include "lumisar.h"

constexpr int kAddressMaxLength = 8;
constexpr uint32_t kMemoryTypeV = 0x31;  // the character '1'
constexpr int32_t kMaxBlockWords = 128;  // 256 data bytes of 16-bit words
constexpr int32_t kMaxBlockLongs = 64;   // 256 data bytes of 32-bit values

// The characters accepted at each of the eight positions, after upper-casing.
inline constexpr const char *AddressCharSets[kAddressMaxLength] = {
    "0123456789ABCDEF", "0123456789ABCDEF", "01234567", "01234567",
    "01234567",         "01234567",         "01234567", "0123456789ABCDEFL",
};

// The data types that take a 32-bit value, and the 'L' or 'F' for it.
inline bool IsLongType(uint32_t dataType) {
  return dataType == LUMISAR_TYPE_FLOAT || dataType == LUMISAR_TYPE_LONG4 ||
         dataType == LUMISAR_TYPE_LONG5;
}

// A host's address text as the resolver reads it: upper-cased (codes 0x61
// to 0x7F move down by 0x20), at most nine characters, which are enough to
// tell that a text is too long. A text need not be short, nor terminated
// within any length: nothing past its ninth character is read.
struct AddressText {
  char c[kAddressMaxLength + 2];
  int length;
};
void ReadAddressText(const char *text, AddressText *out);

// The rules an address text can break, in the order the resolver applies
// them: the first broken one is why a text is refused.
enum AddressFault {
  kAddressAccepted,
  kAddressUnknownType,  // a data type the driver does not resolve
  kAddressLength,       // not as long as its type needs (AddressLength)
  kAddressCharacter,    // one of the first seven characters not accepted there
  kAddressPlcZero,      // PLC number 00
  kAddressSuffix,       // the eighth character does not fit the type
  kAddressOddLong,      // a 32-bit value at an odd octal address
  kAddressCount,        // a block count below 0 or above its limit
};

// The length a text must have: 8 for a 32-bit value or a bit, 7 for a
// word; a block's own length decides between its 7 and 8.
int AddressLength(const AddressText &t, uint32_t dataType, bool block);
// The PLC number of the first two characters, and the V-memory address of
// the five octal digits, of a text whose characters are accepted.
uint32_t PlcNumberOf(const AddressText &t);
uint32_t OctalAddressOf(const AddressText &t);
// The bit number a bit's eighth character gives.
uint32_t BitNumberOf(const AddressText &t);
// The first position whose character is not accepted there, or -1.
int FirstUnacceptedCharacter(const AddressText &t);
// The most values a block of this text may hold.
inline int32_t BlockLimit(const AddressText &t) {
  return t.length == kAddressMaxLength ? kMaxBlockLongs : kMaxBlockWords;
}
// The checks of operations 3 (a single value of dataType) and 4 (a block
// of count values), for the driver and for tools that explain a refusal.
AddressFault CheckSingleAddress(const AddressText &t, uint32_t dataType);
AddressFault CheckBlockAddress(const AddressText &t, int32_t count);
