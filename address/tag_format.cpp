#include "tag_format.h"

#include <stdio.h>
#include <string.h>

// clang-format off
const char *const BitListItems[kBitItemCount] = {"F", "E", "D", "C", "B", "A", "9", "8", "7",
                                                  "6", "5", "4", "3", "2", "1", "0", "None"};
// clang-format on

namespace {

// The dialog only offers the controllers' own station range.
constexpr unsigned kDialogMaxPlc = 0x5A;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned HexValue(const char *text, int length) {
  unsigned v = 0;
  for (int i = 0; i < length; ++i) {
    char c = text[i];
    v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return v;
}

bool IsLongType(int dataType) { return dataType == kTagType32 || dataType == kTagTypeFloat; }

}  // namespace

const char *CheckTagEntries(const char *plc, int plcLength, const char *address, int addressLength,
                            const char * /*bit*/, int bitLength, int dataType) {
  if (plcLength == 0 || addressLength == 0 || bitLength == 0) return "missing value!";
  if (plcLength != 2 || !IsHexDigit(plc[0]) || !IsHexDigit(plc[1]))
    return "Wrong PLC number! (2 hexadecimal digits)";
  unsigned value = HexValue(plc, 2);
  if (value < 1 || value > kDialogMaxPlc) return "Wrong PLC number! (range from 01 to 5A)";
  if (addressLength != 5) return "Wrong address! (5 octal digits)";
  for (int i = 0; i < 5; ++i)
    if (address[i] < '0' || address[i] > '7') return "Wrong address! (5 octal digits)";
  // A 32-bit value starts on an odd word address, which is an even octal
  // address in the text.
  if (IsLongType(dataType) && ((address[4] - '0') & 1))
    return "Wrong address! Address must be even number!";
  return nullptr;
}

void SpinPlcText(const char *text, bool lineUp, char out[3]) {
  int length = 0;
  while (length < 2 && text[length]) ++length;
  bool readable = length > 0;
  for (int i = 0; i < length; ++i) readable = readable && IsHexDigit(text[i]);
  int value = readable ? static_cast<int>(HexValue(text, length)) : 0;
  // From 01 to ff; the OK check narrows it to the controllers' range.
  if (lineUp) {
    value += 1;
    if (value >= 255) value = 255;
  } else {
    value -= 1;
    if (value <= 1) value = 1;
  }
  snprintf(out, 3, "%02x", static_cast<unsigned>(value));
}

void ComposeAddressText(char *out, const char *plc, const char *address, const char *bit,
                        int dataType) {
  memcpy(out, plc, 2);
  memcpy(out + 2, address, 5);
  if (dataType == kTagType32) {
    out[7] = 'L';
    out[8] = 0;
  } else if (dataType == kTagTypeFloat) {
    out[7] = 'F';
    out[8] = 0;
  } else if (bit[0] == 'N') {  // "None": a whole word
    out[7] = 0;
  } else {
    out[7] = bit[0];
    out[8] = 0;
  }
}
