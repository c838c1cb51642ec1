// Operations 3 and 4: turn a tag's address text into a TagAddress.
#include <string.h>

#include "address_text.h"
#include "entry/handlers.h"

namespace {

// The upper-cased copy of the text being resolved. One buffer for the
// process: resolutions run one at a time (the host's calling rules).
char workBuffer[32];

// Copies the host's text, upper-cased, into the work buffer and returns its
// length. Nothing past the ninth character is ever read: nine are enough to
// know that a text is too long, and a host's text need not be short.
int NormaliseText(const char *text) {
  memset(workBuffer, 0, sizeof workBuffer);
  int length = 0;
  while (length <= kAddressMaxLength && text[length] != 0) {
    signed char c = static_cast<signed char>(text[length]);
    // Only codes 0x61..0x7F move; 0x80..0xFF are negative here and stay.
    if (c >= 0x61) c = static_cast<signed char>(c - 0x20);
    workBuffer[length] = static_cast<char>(c);
    ++length;
  }
  return length;
}

bool PositionsAccepted(int length) {
  if (length > kAddressMaxLength) return false;
  for (int i = 0; i < length; ++i)
    if (!strchr(AddressCharSets[i], workBuffer[i])) return false;
  return true;
}

uint32_t HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

uint32_t PlcNumber() { return HexValue(workBuffer[0]) * 16 + HexValue(workBuffer[1]); }

uint32_t OctalValue() {
  uint32_t value = 0;
  for (int i = 2; i < 7; ++i) value = value * 8 + static_cast<uint32_t>(workBuffer[i] - '0');
  return value;
}

// A 32-bit value starts on an odd word address (an even octal value); the
// stored number is half of it, rounded up, which the frames turn back.
bool ToLongAddress(TagAddress *a, uint32_t octal) {
  if (octal & 1) return false;
  a->wordAddress = (octal + 1 + 1) / 2;
  return true;
}

// Steps shared by both operations: PLC number, memory type, word address.
bool FillCommon(TagAddress *a) {
  a->plcNumber = PlcNumber();
  if (a->plcNumber == 0) return false;
  a->memoryType = kMemoryTypeV;
  a->wordAddress = OctalValue() + 1;
  a->bitNumber = LUMISAR_NO_BIT;
  return true;
}

}  // namespace

int32_t ResolveAddress(RequestBlock *request) {
  ResolveRequest *r = static_cast<ResolveRequest *>(request->params);
  if (!r || !r->addressText) return LUMISAR_REFUSED;
  int length = NormaliseText(r->addressText);
  uint32_t type = r->dataType;
  if (type > LUMISAR_TYPE_BIT) return LUMISAR_REFUSED;
  bool wantsSuffix = type >= LUMISAR_TYPE_FLOAT;
  if (length != (wantsSuffix ? 8 : 7)) return LUMISAR_REFUSED;
  if (!PositionsAccepted(length)) return LUMISAR_REFUSED;
  TagAddress *a = &r->address;
  if (!FillCommon(a)) return LUMISAR_REFUSED;
  uint32_t octal = OctalValue();
  char suffix = workBuffer[7];
  a->width = 16;
  switch (type) {
    case LUMISAR_TYPE_LONG4:
    case LUMISAR_TYPE_LONG5:
    case LUMISAR_TYPE_FLOAT:
      if (suffix != (type == LUMISAR_TYPE_FLOAT ? 'F' : 'L')) return LUMISAR_REFUSED;
      a->width = 32;
      return ToLongAddress(a, octal) ? LUMISAR_DONE : LUMISAR_REFUSED;
    case LUMISAR_TYPE_BIT:
      if (suffix == 'L') return LUMISAR_REFUSED;
      a->bitNumber = HexValue(suffix);
      return LUMISAR_DONE;
    default:
      return LUMISAR_DONE;
  }
}

int32_t ResolveBlockAddress(RequestBlock *request) {
  ResolveRequest *r = static_cast<ResolveRequest *>(request->params);
  if (!r || !r->addressText) return LUMISAR_REFUSED;
  int length = NormaliseText(r->addressText);
  if (length != 7 && length != 8) return LUMISAR_REFUSED;
  if (!PositionsAccepted(length)) return LUMISAR_REFUSED;
  TagAddress *a = &r->address;
  if (!FillCommon(a)) return LUMISAR_REFUSED;
  // A negative count would make the block transactions compute a negative
  // frame length; no block is smaller than nothing.
  if (r->count < 0) return LUMISAR_REFUSED;
  if (length == 7) {
    a->width = 16;
    return r->count > kMaxBlockWords ? LUMISAR_REFUSED : LUMISAR_DONE;
  }
  char suffix = workBuffer[7];
  if (suffix != 'L' && suffix != 'F') return LUMISAR_REFUSED;
  a->width = 32;
  if (!ToLongAddress(a, OctalValue())) return LUMISAR_REFUSED;
  return r->count > kMaxBlockLongs ? LUMISAR_REFUSED : LUMISAR_DONE;
}
