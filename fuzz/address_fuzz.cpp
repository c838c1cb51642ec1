// Fuzzes operations 3 and 4 with any text, data type and count. An accepted
// text must decode, by an independent reading of the address syntax, to the
// TagAddress the driver produced; a rejected one must break a rule.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "lumisar.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The syntax, read afresh: two hex digits (not 00), five octal digits, and
// for 8 characters a suffix. Returns true when the request is acceptable.
bool Reference(const char *text, bool block, uint32_t type, int32_t count, TagAddress *out) {
  size_t length = strnlen(text, 9);
  if (length != 7 && length != 8) return false;
  if (HexValue(text[0]) < 0 || HexValue(text[1]) < 0) return false;
  for (int i = 2; i < 7; ++i)
    if (!IsOctal(text[i])) return false;
  uint32_t plc = static_cast<uint32_t>(HexValue(text[0]) * 16 + HexValue(text[1]));
  if (plc == 0) return false;
  char octalText[6];
  memcpy(octalText, text + 2, 5);
  octalText[5] = 0;
  uint32_t octal = static_cast<uint32_t>(strtoul(octalText, nullptr, 8));
  char suffix = length == 8 ? static_cast<char>(text[7] & ~0x20) : 0;
  if (length == 8 && text[7] >= '0' && text[7] <= '9') suffix = text[7];
  bool isLong = suffix == 'L', isFloat = suffix == 'F';
  bool isHex = length == 8 && HexValue(text[7]) >= 0;
  *out = TagAddress{plc, 0x31, octal + 1, 255, 16};
  bool wide;
  if (block) {
    if (length == 8 && !isLong && !isFloat) return false;
    wide = length == 8;
    if (count < 0 || count > (wide ? 64 : 128)) return false;
  } else {
    if (type > 6) return false;
    if (type <= 2) {
      if (length != 7) return false;
      wide = false;
    } else if (type == 6) {
      if (length != 8 || !isHex) return false;
      out->bitNumber = static_cast<uint32_t>(HexValue(text[7]));
      wide = false;
    } else {
      if (length != 8 || !(type == 3 ? isFloat : isLong)) return false;
      wide = true;
    }
  }
  if (wide) {
    if (octal % 2) return false;
    out->width = 32;
    out->wordAddress = (octal + 2) / 2;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 9) return 0;
  bool block = data[0] & 1;
  uint32_t type;
  int32_t count;
  memcpy(&type, data + 1, 4);
  memcpy(&count, data + 5, 4);
  if (data[0] & 2) type %= 8;  // mostly the codes that matter
  if (data[0] & 4) count %= 200;
  size_t length = size - 9;
  // Exactly the text and its terminator: any read beyond is reported.
  char *text = static_cast<char *>(malloc(length + 1));
  memcpy(text, data + 9, length);
  text[length] = 0;
  ResolveRequest r;
  memset(&r, 0, sizeof r);
  r.addressText = text;
  r.dataType = type;
  r.count = count;
  RequestBlock request;
  memset(&request, 0, sizeof request);
  request.operation = block ? LUMISAR_OP_RESOLVE_BLOCK_ADDRESS : LUMISAR_OP_RESOLVE_ADDRESS;
  request.params = &r;
  int32_t result = ZubMain(&request);
  TagAddress expected;
  bool acceptable = Reference(text, block, type, count, &expected);
  if (result != 0 && result != 1) abort();
  if ((result == 0) != acceptable) abort();
  if (result == 0 && memcmp(&expected, &r.address, sizeof expected) != 0) abort();
  free(text);
  return 0;
}
