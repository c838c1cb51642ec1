// SendStr and RecvStr: every byte the driver exchanges goes through one of
// them, and each leaves a trace line of 17 bytes in the host's log.
#include <stddef.h>
#include <string.h>

#include "frames.h"
#include "host/quarne.h"
#include "port/serial_line.h"
#include "protocol_facts.h"

namespace {

// The context's fields end at eotByte; the record's last byte is padding.
constexpr size_t kContextFieldsEnd = offsetof(PortContext, eotByte) + 1;

// Traces the 17 bytes from start after the prefix, printing 00 for any
// that lie at or past end: a trace never reads outside the object it was
// given.
void Trace(const char *prefix, const uint8_t *start, const uint8_t *end) {
  int f[kTraceFields];
  for (int i = 0; i < kTraceFields; ++i) f[i] = start + i < end ? start[i] : 0;
  err(kLogTrace,
      "%s%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
      prefix, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12],
      f[13], f[14], f[15], f[16]);
}

// Wire time of n characters at the channel's settings, in whole ms.
DWORD WireMs(const PortContext *context, int n) {
  uint64_t micros = static_cast<uint64_t>(SerialCharMicros(context->spec.settings)) * n;
  return static_cast<DWORD>((micros + 999) / 1000);
}

// How long the line must stay silent to count as quiet.
DWORD QuietMs(const PortContext *context) {
  DWORD quietMs = WireMs(context, kQuietChars);
  return quietMs < kShortestQuietMs ? kShortestQuietMs : quietMs;
}

}  // namespace

bool SendStr(PortContext *context, const uint8_t *bytes, int n) {
  HANDLE line = context->port;
  // Whatever the controller sent before this frame belongs to an exchange
  // that is over.
  if (line) SerialPurge(line);
  const uint8_t *contextEnd = reinterpret_cast<const uint8_t *>(context) + kContextFieldsEnd;
  Trace(ORVEN_TRACE_SENT, bytes, contextEnd);
  if (!line) return false;
  DWORD written = 0;
  LineResult result = SerialWrite(line, bytes, static_cast<DWORD>(n), &written);
  return result == kLineOk && written == static_cast<DWORD>(n);
}

namespace {

// Once begun, a reply may take one and a half times its wire time: room
// for a controller that pauses, none for one that trickles. Together with
// the attempt's short replies and a quiet wait, an attempt then stays
// within one limit and twice the wire time of its longest frame.
DWORD ReplyMarginMs(const PortContext *context, int n) { return WireMs(context, n) * 3 / 2; }

Reception Received(LineResult result, DWORD received, int n) {
  if (result == kLineOk && received == static_cast<DWORD>(n)) return Reception::Complete;
  if (result == kLineTooSlow) return Reception::Partial;
  return Reception::Nothing;
}

}  // namespace

Reception RecvStr(PortContext *context, uint8_t *buffer, int n, size_t capacity, int answering) {
  HANDLE line = context->port;
  DWORD received = 0;
  LineResult result = line ? SerialReadReply(line, buffer, static_cast<DWORD>(n), &received,
                                             WireMs(context, answering), ReplyMarginMs(context, n))
                           : kLineIoFailed;
  Trace(ORVEN_TRACE_RECEIVED, buffer, buffer + capacity);
  return Received(result, received, n);
}

namespace {

// A reply's bound, as SerialReadReply reckons it from its start.
struct ReplyBound {
  DWORD start, laterMs, marginMs;
};

// Reads the rest of what began like the frame `sent` (its first n bytes
// are in `echo`), within the reply's bound, and traces it as it came.
// Whether it is the whole frame, byte for byte: the line's echo.
bool WholeEcho(HANDLE line, const ReplyBound &bound, const uint8_t *sent, int length, uint8_t *echo,
               int n) {
  LineResult result = kLineOk;
  DWORD more = 0;
  if (length > n)
    result = SerialReadReplyOn(line, bound.start, echo + n, static_cast<DWORD>(length - n), &more,
                               bound.laterMs, bound.marginMs);
  int echoed = n + static_cast<int>(more);
  Trace(ORVEN_TRACE_RECEIVED, echo, echo + echoed);
  return result == kLineOk && echoed == length &&
         memcmp(echo, sent, static_cast<size_t>(length)) == 0;
}

}  // namespace

Reception RecvAfter(PortContext *context, const uint8_t *sent, int length, uint8_t *buffer, int n,
                    size_t capacity, EchoNote *note) {
  HANDLE line = context->port;
  if (!line || n > length) return RecvStr(context, buffer, n, capacity, length);
  const ReplyBound bound = {SerialNow(), WireMs(context, length), ReplyMarginMs(context, n)};
  // What the buffer held, put back under an echo: a reply that does not
  // come behind it is traced as one that does not come at all.
  uint8_t held[kMaxDataBytes + kFrameOverhead];
  memcpy(held, buffer, static_cast<size_t>(n));
  DWORD received = 0;
  LineResult result = SerialReadReply(line, buffer, static_cast<DWORD>(n), &received, bound.laterMs,
                                      bound.marginMs);
  Reception got = Received(result, received, n);
  // A controller never answers with the frame it was sent: bytes that do
  // not begin like it are its answer, traced as they came.
  if (got != Reception::Complete || memcmp(buffer, sent, static_cast<size_t>(n)) != 0) {
    Trace(ORVEN_TRACE_RECEIVED, buffer, buffer + capacity);
    return got;
  }
  // They begin like the frame: the line's echo, if the rest of the frame
  // follows. The echo came as the frame went out, so the bound that began
  // with the send holds for it and for the answer behind it.
  uint8_t echo[kMaxDataBytes + kFrameOverhead];
  memcpy(echo, buffer, static_cast<size_t>(n));
  memcpy(buffer, held, static_cast<size_t>(n));
  // Half an echo, a byte lost or changed, is a reply spoiled: whatever
  // follows it cannot be told from the rest of the frame.
  if (!WholeEcho(line, bound, sent, length, echo, n)) return Reception::Partial;
  if (!note->heard) err(kLogTrace, "%s", kLogEchoSetAside);
  note->heard = true;
  result = SerialReadReplyOn(line, bound.start, buffer, static_cast<DWORD>(n), &received,
                             bound.laterMs, bound.marginMs);
  Trace(ORVEN_TRACE_RECEIVED, buffer, buffer + capacity);
  // Nothing behind the echo is a controller that stayed silent.
  if (received == 0) return Reception::Nothing;
  return Received(result, received, n);
}

void TakeLastEcho(PortContext *context, int length, const EchoNote *note) {
  if (!note->heard || !context->port) return;
  uint8_t echo[kMaxDataBytes + kFrameOverhead];
  DWORD received = 0;
  // What comes is the echo, or a byte too late for any exchange: either
  // way it is not the next exchange's.
  LineResult taken = SerialReadReply(context->port, echo, static_cast<DWORD>(length), &received,
                                     WireMs(context, length), ReplyMarginMs(context, length));
  (void)taken;
}

void LetLineFallQuiet(PortContext *context, int answering, int rest) {
  if (!context->port) return;
  // The rest of a reply streams at the line's pace, a long data frame for
  // longer than a limit: it may take its wire time and a half, as a reply.
  LineResult quiet = SerialAwaitQuiet(context->port, QuietMs(context), WireMs(context, answering),
                                      WireMs(context, rest) * 3 / 2);
  // A line that cannot wait is failing, and nothing here can mend it: the
  // attempt has failed already, and the next send's purge and the reply
  // checks still stand between what comes and a wrong value.
  (void)quiet;
}

bool BytesBeyond(PortContext *context, bool expectMore) {
  if (!context->port) return false;
  // A line that cannot tell what follows the frame cannot vouch for it.
  DWORD waiting = 0;
  if (SerialWaiting(context->port, &waiting) != kLineOk) return true;
  if (waiting != 0) return true;
  if (!expectMore) return false;
  bool came = false;
  if (SerialByteWithin(context->port, QuietMs(context), &came) != kLineOk) return true;
  return came;
}
