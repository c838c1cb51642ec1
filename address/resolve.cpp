// Operations 3 and 4: turn a tag's address text into a TagAddress. Each
// call reads the text into its own copy, so that channels on several
// threads may resolve at once.
#include "resolve.h"

#include "address_text.h"

namespace {

// PLC number, memory type and word address, as both operations fill them.
void FillCommon(const AddressText &t, TagAddress *a) {
  a->plcNumber = PlcNumberOf(t);
  a->memoryType = kMemoryTypeV;
  a->wordAddress = OctalAddressOf(t) + 1;
  a->bitNumber = LUMISAR_NO_BIT;
  a->width = 16;
}

// A 32-bit value starts on an odd word address (an even octal value); the
// stored number is half of it, rounded up, which the frames turn back.
void FillLong(const AddressText &t, TagAddress *a) {
  a->width = 32;
  a->wordAddress = (OctalAddressOf(t) + 1 + 1) / 2;
}

}  // namespace

int32_t ResolveAddress(RequestBlock *request) {
  ResolveRequest *r = static_cast<ResolveRequest *>(request->params);
  if (!r || !r->addressText) return LUMISAR_REFUSED;
  AddressText t;
  ReadAddressText(r->addressText, &t);
  if (CheckSingleAddress(t, r->dataType) != kAddressAccepted) return LUMISAR_REFUSED;
  TagAddress *a = &r->address;
  FillCommon(t, a);
  if (IsLongType(r->dataType)) FillLong(t, a);
  if (r->dataType == LUMISAR_TYPE_BIT) a->bitNumber = BitNumberOf(t);
  return LUMISAR_DONE;
}

int32_t ResolveBlockAddress(RequestBlock *request) {
  ResolveRequest *r = static_cast<ResolveRequest *>(request->params);
  if (!r || !r->addressText) return LUMISAR_REFUSED;
  AddressText t;
  ReadAddressText(r->addressText, &t);
  if (CheckBlockAddress(t, r->count) != kAddressAccepted) return LUMISAR_REFUSED;
  TagAddress *a = &r->address;
  FillCommon(t, a);
  if (t.length == kAddressMaxLength) FillLong(t, a);
  return LUMISAR_DONE;
}
