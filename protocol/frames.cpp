#include "frames.h"

#include <string.h>

namespace {

void PutHex2(uint8_t *at, uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  at[0] = static_cast<uint8_t>(digits[(value >> 4) & 0xF]);
  at[1] = static_cast<uint8_t>(digits[value & 0xF]);
}

// The first word address of the tag. A 32-bit tag stores half its word
// address (rounded up), so it is doubled back here.
uint32_t StartAddress(const TagAddress &a) {
  uint32_t start = a.width == 32 ? 2 * a.wordAddress - 1 : a.wordAddress;
  return start & 0xFFFF;
}

// Enquiry and the header around the two byte-count fields.
void FillHeader(PortContext *context, const IoRequest *io, bool write, uint32_t fullBlocks,
                uint32_t lastBytes) {
  uint32_t plc = io->address.plcNumber & 0xFF;
  context->enquiry[0] = kEnquiryStart;
  context->enquiry[1] = static_cast<uint8_t>(plc + kStationOffset);
  context->enquiry[2] = ENQ;

  uint8_t *h = context->header;
  uint32_t start = StartAddress(io->address);
  h[0] = SOH;
  PutHex2(h + 1, plc);
  h[3] = write ? '8' : '0';
  h[4] = '1';
  PutHex2(h + 5, start >> 8);
  PutHex2(h + 7, start);
  PutHex2(h + 9, fullBlocks);
  PutHex2(h + 11, lastBytes);
  h[13] = '0';
  h[14] = '0';
  h[15] = ETB;
  h[16] = CalcLrc(h, kHeaderLength);
}

// Single values announce count × 2 or count × 4 bytes (in 16 bits), all in
// the last partial block.
void FillSingleHeader(PortContext *context, const IoRequest *io, bool write) {
  uint16_t bytes = static_cast<uint16_t>(io->count * (IsLongType(io->dataType) ? 4 : 2));
  FillHeader(context, io, write, 0, bytes);
}

void FillBlockHeader(PortContext *context, const IoRequest *io, bool write) {
  uint32_t bytes =
      static_cast<uint32_t>(io->count) * static_cast<uint32_t>(ElementBytes(io->address.width));
  FillHeader(context, io, write, bytes / 256, bytes % 256);
}

void CloseDataFrame(PortContext *context, int dataBytes) {
  uint8_t *f = context->dataFrame;
  f[0] = STX;
  f[dataBytes + 1] = ETX;
  f[dataBytes + 2] = CalcLrc(f, dataBytes + kFrameOverhead);
}

}  // namespace

bool CheckLrc(const uint8_t *frame, int length) {
  return frame[length - 1] == CalcLrc(frame, length);
}

void MakeReadHeader(PortContext *context, const IoRequest *io) {
  FillSingleHeader(context, io, false);
}

void MakeBlockReadHeader(PortContext *context, const IoRequest *io) {
  FillBlockHeader(context, io, false);
}

void MakeWriteFrames(PortContext *context, const IoRequest *io) {
  FillSingleHeader(context, io, true);
  const uint8_t *values = static_cast<const uint8_t *>(io->values);
  // A single 16-bit value sits in the buffer's second word; its first word
  // belongs to the host and is not read.
  if (io->address.width == 32) {
    memcpy(context->dataFrame + 1, values, 4);
    CloseDataFrame(context, 4);
  } else {
    memcpy(context->dataFrame + 1, values + 2, 2);
    CloseDataFrame(context, 2);
  }
}

void MakeBlockWriteFrames(PortContext *context, const IoRequest *io) {
  FillBlockHeader(context, io, true);
  int n = io->count * ElementBytes(io->address.width);
  // Values travel least significant byte first, which is how a
  // little-endian host keeps them.
  if (n > 0) memcpy(context->dataFrame + 1, io->values, static_cast<size_t>(n));
  CloseDataFrame(context, n);
}
