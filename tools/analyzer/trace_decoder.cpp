#include "trace_decoder.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "protocol/frames.h"
#include "trace_line.h"

namespace {

// Appends to the decoded text, cut at its end.
struct Appender {
  char *out;
  size_t size, n;
  __attribute__((format(printf, 2, 3))) void operator()(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int wrote = n < size ? vsnprintf(out + n, size - n, fmt, args) : 0;
    va_end(args);
    if (wrote > 0) n += static_cast<size_t>(wrote);
  }
};

void PutEnquiry(Appender &put, const char *dir, const uint8_t *b) {
  int plc = EnquiryPlc(b);
  if (IsEnquiry(b))
    put("%s enquiry       PLC %02X (station byte %02X)", dir, plc, b[1]);
  else
    put("%s acknowledge   PLC %02X (station byte %02X), %s", dir, plc, b[1],
        b[2] == ACK ? "ACK" : "no ACK: refused");
}

void PutHeader(TraceDecoder *d, Appender &put, const char *dir, const uint8_t *b) {
  TracedHeader h;
  if (!DecodeHeader(b, &h)) {
    put("%s header        damaged: %02X %02X %02X ...", dir, b[0], b[1], b[2]);
    return;
  }
  d->dataBytes = h.bytes;
  put("%s header        PLC %02X, %s, word address %u (V%o; words count from 1), %d bytes, check "
      "byte %s",
      dir, h.plc, h.write ? "write" : "read", h.wordAddress, VMemoryAddress(h.wordAddress), h.bytes,
      CalcLrc(b, kHeaderLength) == b[kHeaderLength - 1] ? "right" : "WRONG");
}

void PutDataFrame(const TraceDecoder *d, Appender &put, const char *dir, const uint8_t *b) {
  int bytes = d->dataBytes;
  put("%s data frame    %d bytes:", dir, bytes);
  for (int i = 0; i + 1 < bytes && i < 14; i += 2) put(" %04X", b[1 + i] | b[2 + i] << 8);
  if (bytes > 14) put(" ...");
  // The check byte shows when the whole frame fits the trace's 17 bytes.
  if (bytes + kFrameOverhead <= kTraceFields)
    put(", check byte %s", CalcLrc(b, bytes + kFrameOverhead) == b[bytes + 2] ? "right" : "WRONG");
}

}  // namespace

bool DecodeTraceLine(TraceDecoder *d, const char *line, char *out, size_t size) {
  TraceLine t = ReadTraceLine(line);
  Appender put = {out, size, 0};
  if (t.kind == kTraceEcho) {
    put("line echoes: the driver set its own frame aside and read the answer behind it");
    return true;
  }
  if ((t.kind != kTraceSent && t.kind != kTraceReceived) || t.damaged) return false;
  const char *dir = t.kind == kTraceSent ? "Tx" : "Rx";
  const uint8_t *b = t.bytes;
  if (t.kind == kTraceSent) {
    memcpy(d->sent, b, sizeof d->sent);
    d->sentLength = SentLength(b, d->dataBytes);
  }
  if (t.kind == kTraceReceived && d->sentLength && ShowsEcho(b, d->sent, d->sentLength))
    put("Rx echo         the frame just sent, given back by the line");
  else if (b[0] == kEnquiryStart)
    PutEnquiry(put, dir, b);
  else if (b[0] == SOH)
    PutHeader(d, put, dir, b);
  else if (b[0] == STX)
    PutDataFrame(d, put, dir, b);
  else if (b[0] == ACK || b[0] == EOT || b[0] == NAK)
    put("%s %s", dir, b[0] == ACK ? "ACK" : b[0] == EOT ? "EOT" : "NAK");
  else
    put("%s %02X %02X %02X ...", dir, b[0], b[1], b[2]);
  return true;
}
