#include "trace_decoder.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Appender {
  char *out;
  size_t size;
  size_t n;
  __attribute__((format(printf, 2, 3))) void operator()(const char *fmt, ...) {
    if (n >= size) return;
    va_list args;
    va_start(args, fmt);
    int wrote = vsnprintf(out + n, size - n, fmt, args);
    va_end(args);
    if (wrote > 0) n += static_cast<size_t>(wrote);
  }
};

int Hex(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Hex2(const unsigned char *p) {
  int hi = Hex(p[0]), lo = Hex(p[1]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace

bool DecodeTraceLine(TraceDecoder *d, const char *line, char *out, size_t size) {
  const char *tx = "ORVEN> SendStr() Tx ";
  const char *rx = "ORVEN> RecvStr() Rx ";
  bool sending = strncmp(line, tx, strlen(tx)) == 0;
  if (!sending && strncmp(line, rx, strlen(rx)) != 0) return false;
  unsigned char b[17];
  const char *p = line + strlen(tx);
  for (int i = 0; i < 17; ++i) {
    char *end;
    b[i] = static_cast<unsigned char>(strtoul(p, &end, 16));
    p = end;
  }
  const char *dir = sending ? "Tx" : "Rx";
  Appender put = {out, size, 0};
  switch (b[0]) {
    case 0x4E:
      if (b[2] == 0x05)
        put("%s enquiry       PLC %02X (station byte %02X)", dir, (b[1] - 0x20) & 0xFF, b[1]);
      else
        put("%s acknowledge   PLC %02X (station byte %02X), %s", dir, (b[1] - 0x20) & 0xFF, b[1],
            b[2] == 0x06 ? "ACK" : "no ACK: refused");
      break;
    case 0x01: {
      int plc = Hex2(b + 1), hi = Hex2(b + 5), lo = Hex2(b + 7), blocks = Hex2(b + 9),
          last = Hex2(b + 11);
      unsigned char lrc = 0;
      for (int i = 1; i <= 14; ++i) lrc ^= b[i];
      d->dataBytes = blocks * 256 + last;
      // The header counts words from 1; the controller's V-memory is octal
      // from 0.
      unsigned word = static_cast<unsigned>(hi * 256 + lo);
      put("%s header        PLC %02X, %s, word address %u (V%o), %d bytes, check byte %s", dir, plc,
          b[3] == '8' ? "write" : "read", word, (word + 0xFFFFu) & 0xFFFFu, d->dataBytes,
          lrc == b[16] ? "right" : "WRONG");
      break;
    }
    case 0x02: {
      int bytes = d->dataBytes;
      put("%s data frame    %d bytes:", dir, bytes);
      for (int i = 0; i + 1 < bytes && i < 14; i += 2) put(" %04X", b[1 + i] | b[2 + i] << 8);
      if (bytes > 14) put(" ...");
      if (bytes + 3 <= 17) {
        unsigned char lrc = 0;
        for (int i = 1; i <= bytes; ++i) lrc ^= b[i];
        put(", check byte %s", lrc == b[bytes + 2] ? "right" : "WRONG");
      }
      break;
    }
    case 0x06:
      put("%s ACK", dir);
      break;
    case 0x04:
      put("%s EOT", dir);
      break;
    case 0x15:
      put("%s NAK", dir);
      break;
    default:
      put("%s %02X %02X %02X ...", dir, b[0], b[1], b[2]);
      break;
  }
  return true;
}
