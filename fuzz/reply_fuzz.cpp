// Fuzzes what the line answers: every transaction kind against any bytes,
// in any split, through the substitute's in-memory port. Guard bytes sit
// around the value buffer and the channel's context; the result must be 0,
// 1 or 2; a read that reports 0 must store exactly the values of the data
// frame the line carried, and a write stores nothing in the host's buffer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <winsub.h>

#include "lumisar.h"
#include "quarne_control.h"

namespace {

constexpr int kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

struct Feed {
  const uint8_t *data;
  size_t size;
  size_t at;
  uint8_t lastHeaderReply[256];  // what answered the last header sent
  size_t lastHeaderReplyLength;
};

void Answer(WinsubMemDevice *dev, const uint8_t *bytes, size_t n, void *user) {
  Feed *f = static_cast<Feed *>(user);
  if (f->at >= f->size) return;
  size_t length = f->data[f->at++];
  if (length > f->size - f->at) length = f->size - f->at;
  WinsubMemPush(dev, f->data + f->at, length);
  if (n == 17 && bytes[0] == 0x01) {
    memcpy(f->lastHeaderReply, f->data + f->at, length);
    f->lastHeaderReplyLength = length;
  }
  f->at += length;
}

struct Guarded {
  uint8_t before[kGuard];
  PortContext context;
  uint8_t after[kGuard];
};

bool GuardsIntact(const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != kGuardByte) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  WinsubReset();
  QuarneReset();
  WinsubMemDevice *dev = WinsubAddMemoryDevice("COM3");
  Feed feed = {data, size, 3, {}, 0};
  dev->peer = Answer;
  dev->peerUser = &feed;

  static Guarded g;
  memset(&g, kGuardByte, sizeof g);
  memset(&g.context, 0, sizeof g.context);
  OpenRequest open;
  memset(&open, 0, sizeof open);
  strcpy(open.deviceName, "COM3");
  open.enabled = 1;
  open.replyTimeout = 1;
  open.settings = SerialSettings{19200, 8, 0, 1};
  RequestBlock r;
  memset(&r, 0, sizeof r);
  r.context = &g.context;
  r.operation = LUMISAR_OP_OPEN_PORT;
  r.params = &open;
  if (ZubMain(&r) != 0) abort();

  // The request: kind, count and station from the first three bytes.
  static const struct {
    uint32_t op, type, width, bit;
    bool block;
  } kinds[] = {{5, 0, 16, 255, false}, {5, 4, 32, 255, false}, {5, 3, 32, 255, false},
               {5, 6, 16, 7, false},   {6, 0, 16, 255, true},  {6, 4, 32, 255, true},
               {7, 0, 16, 255, false}, {7, 4, 32, 255, false}, {7, 6, 16, 15, false},
               {10, 0, 16, 255, true}, {10, 4, 32, 255, true}};
  const auto &k = kinds[data[0] % (sizeof kinds / sizeof kinds[0])];
  int32_t count = k.block ? data[1] % (k.width == 16 ? 129 : 65) : 1;
  uint8_t values[kGuard + 256 + kGuard];
  memset(values, kGuardByte, sizeof values);
  uint8_t *v = values + kGuard;
  for (int i = 0; i < 256; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  uint8_t original[256];
  memcpy(original, v, 256);
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.addressText = k.width == 32 ? "0140000L" : "0140000";
  io.address = TagAddress{static_cast<uint32_t>(data[2] % 4 + 1), 0x31, 8193, k.bit, k.width};
  io.dataType = k.type;
  io.count = count;
  io.values = v;
  r.operation = k.op;
  r.params = &io;
  int32_t result = ZubMain(&r);

  if (result < 0 || result > 2) abort();
  if (!GuardsIntact(g.before, kGuard) || !GuardsIntact(g.after, kGuard)) abort();
  if (!GuardsIntact(values, kGuard) || !GuardsIntact(v + 256, kGuard)) abort();
  if (io.address.bitNumber != k.bit) abort();
  bool read = k.op == 5 || k.op == 6;
  if (!read || result != 0) {
    // Nothing reaches the host's buffer but a successful read.
    if (memcmp(v, original, 256) != 0) abort();
  } else {
    // The data frame follows the ACK that answered the header.
    int bytesPer = k.width == 32 ? 4 : 2;
    int n = count * bytesPer;
    const uint8_t *frame = feed.lastHeaderReply + 1;
    if (feed.lastHeaderReplyLength < static_cast<size_t>(n + 4)) abort();
    if (frame[0] != 0x02) abort();
    if (k.op == 6) {
      if (memcmp(v, frame + 1, static_cast<size_t>(n)) != 0) abort();
    } else if (k.width == 32) {
      if (memcmp(v, frame + 1, 4) != 0) abort();
    } else {
      uint16_t w = static_cast<uint16_t>(frame[1] | frame[2] << 8);
      if (k.bit != 255) w = (w >> k.bit) & 1;
      uint16_t stored;
      memcpy(&stored, v + 2, 2);
      if (stored != w || memcmp(v, original, 2) != 0) abort();
    }
  }
  r.operation = LUMISAR_OP_CLOSE_PORT;
  ZubMain(&r);
  return 0;
}
