// The address rules of operations 3 and 4, apart from the operations, so
// that the tools can tell which rule a refused text broke.
#include "address_text.h"

#include <string.h>

namespace {

uint32_t HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// Length, characters and PLC number: the rules every text follows. An
// eighth character no type takes is the type letter's fault.
AddressFault CheckShape(const AddressText &t, int length) {
  if (t.length != length) return kAddressLength;
  int bad = FirstUnacceptedCharacter(t);
  if (bad >= 0 && bad < kAddressMaxLength - 1) return kAddressCharacter;
  if (PlcNumberOf(t) == 0) return kAddressPlcZero;
  if (bad == kAddressMaxLength - 1) return kAddressSuffix;
  return kAddressAccepted;
}

}  // namespace

uint32_t PlcNumberOf(const AddressText &t) { return HexValue(t.c[0]) * 16 + HexValue(t.c[1]); }

uint32_t BitNumberOf(const AddressText &t) { return HexValue(t.c[7]); }

uint32_t OctalAddressOf(const AddressText &t) {
  uint32_t value = 0;
  for (int i = 2; i < 7; ++i) value = value * 8 + static_cast<uint32_t>(t.c[i] - '0');
  return value;
}

void ReadAddressText(const char *text, AddressText *out) {
  memset(out, 0, sizeof *out);
  int length = 0;
  while (length <= kAddressMaxLength && text[length] != 0) {
    signed char c = static_cast<signed char>(text[length]);
    // Only codes 0x61..0x7F move; 0x80..0xFF are negative here and stay.
    if (c >= 0x61) c = static_cast<signed char>(c - 0x20);
    out->c[length] = static_cast<char>(c);
    ++length;
  }
  out->length = length;
}

int AddressLength(const AddressText &t, uint32_t dataType, bool block) {
  if (block) return t.length == kAddressMaxLength ? kAddressMaxLength : kAddressMaxLength - 1;
  bool wantsSuffix = IsLongType(dataType) || dataType == LUMISAR_TYPE_BIT;
  return wantsSuffix ? kAddressMaxLength : kAddressMaxLength - 1;
}

int FirstUnacceptedCharacter(const AddressText &t) {
  for (int i = 0; i < t.length && i < kAddressMaxLength; ++i)
    if (t.c[i] == 0 || !strchr(AddressCharSets[i], t.c[i])) return i;
  return -1;
}

AddressFault CheckSingleAddress(const AddressText &t, uint32_t dataType) {
  if (dataType > LUMISAR_TYPE_BIT) return kAddressUnknownType;
  AddressFault shape = CheckShape(t, AddressLength(t, dataType, false));
  if (shape != kAddressAccepted) return shape;
  char suffix = t.c[7];
  if (IsLongType(dataType)) {
    if (suffix != (dataType == LUMISAR_TYPE_FLOAT ? 'F' : 'L')) return kAddressSuffix;
    if (OctalAddressOf(t) & 1) return kAddressOddLong;
  }
  if (dataType == LUMISAR_TYPE_BIT && suffix == 'L') return kAddressSuffix;
  return kAddressAccepted;
}

AddressFault CheckBlockAddress(const AddressText &t, int32_t count) {
  AddressFault shape = CheckShape(t, AddressLength(t, LUMISAR_TYPE_WORD0, true));
  if (shape != kAddressAccepted) return shape;
  if (t.length == kAddressMaxLength) {
    if (t.c[7] != 'L' && t.c[7] != 'F') return kAddressSuffix;
    if (OctalAddressOf(t) & 1) return kAddressOddLong;
  }
  // A negative count would make the block transactions compute a negative
  // frame length; no block is smaller than nothing.
  if (count < 0 || count > BlockLimit(t)) return kAddressCount;
  return kAddressAccepted;
}
