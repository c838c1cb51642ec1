#include "serial_line.h"

#include <string.h>

namespace {

constexpr DWORD kDcbLength = 28;
constexpr DWORD kOpenReadLimitMs = kDefaultReadLimitUnits * 10;
constexpr char kErrorCharNotUsed = static_cast<char>(0xFC);
// The largest read limit that still fits ReadTotalTimeoutConstant in
// milliseconds: units × 10 must not wrap round to a short wait.
constexpr uint32_t kMaxReadLimitUnits = 0xFFFFFFFEu / 10;

void ApplySettings(DCB *dcb, const SerialSettings &s, uint16_t lineControl) {
  dcb->BaudRate = s.baudRate;
  dcb->fBinary = 1;
  dcb->fParity = 1;
  dcb->fOutxCtsFlow = 0;
  dcb->fOutxDsrFlow = 0;
  dcb->fDtrControl = static_cast<DWORD>(DtrMode(lineControl));
  dcb->fDsrSensitivity = 0;
  dcb->fOutX = 0;
  dcb->fInX = 0;
  dcb->fErrorChar = 0;
  dcb->fNull = 0;  // NUL bytes are data in this protocol
  dcb->fRtsControl = static_cast<DWORD>(RtsMode(lineControl));
  dcb->fAbortOnError = 0;
  dcb->ByteSize = static_cast<BYTE>(s.dataBits & 0xFF);
  dcb->Parity = static_cast<BYTE>(s.parity & 0xFF);
  dcb->StopBits = static_cast<BYTE>(s.stopBits & 0xFF);
  dcb->ErrorChar = kErrorCharNotUsed;
}

DWORD SaturatingSum(DWORD a, DWORD b) { return a + b < a ? kNoReplyBound : a + b; }

// A read wait of the layer's own, set on the line for the length of one
// call: the line's own time-outs are taken once, when first needed, and
// put back at the end of the call. Only the read limit is ever changed.
struct ReadWait {
  HANDLE line;
  bool taken;        // own holds the line's time-outs
  COMMTIMEOUTS own;  // the line's time-outs before the call
  DWORD inForceMs;   // the read limit on the line now
};

ReadWait NoReadWaitYet(HANDLE line) {
  ReadWait wait;
  memset(&wait, 0, sizeof wait);
  wait.line = line;
  return wait;
}

LineResult TakeLineLimit(ReadWait *wait) {
  if (wait->taken) return kLineOk;
  if (!GetCommTimeouts(wait->line, &wait->own)) return kLineIoFailed;
  wait->taken = true;
  wait->inForceMs = wait->own.ReadTotalTimeoutConstant;
  return kLineOk;
}

// The line's own read limit, in ms; TakeLineLimit has succeeded.
DWORD LineLimitMs(const ReadWait &wait) { return wait.own.ReadTotalTimeoutConstant; }

LineResult SetReadWait(ReadWait *wait, DWORD ms) {
  LineResult taken = TakeLineLimit(wait);
  if (taken != kLineOk) return taken;
  if (ms == wait->inForceMs) return kLineOk;
  COMMTIMEOUTS timeouts = wait->own;
  timeouts.ReadTotalTimeoutConstant = ms;
  if (!SetCommTimeouts(wait->line, &timeouts)) return kLineIoFailed;
  wait->inForceMs = ms;
  return kLineOk;
}

LineResult EndReadWait(ReadWait *wait) {
  if (!wait->taken || wait->inForceMs == LineLimitMs(*wait)) return kLineOk;
  if (!SetCommTimeouts(wait->line, &wait->own)) return kLineIoFailed;
  wait->inForceMs = LineLimitMs(*wait);
  return kLineOk;
}

// A call's result once its wait has ended: the first failure counts, and
// a limit that could not be put back is one.
LineResult Ended(ReadWait *wait, LineResult result) {
  LineResult ended = EndReadWait(wait);
  if (result != kLineOk) return result;
  return ended;
}

}  // namespace

int DtrMode(uint16_t lineControl) {
  if (lineControl & 0x0101) return DTR_CONTROL_ENABLE;
  if (lineControl & 0x8000) return DTR_CONTROL_HANDSHAKE;
  return DTR_CONTROL_DISABLE;
}

int RtsMode(uint16_t lineControl) {
  if (lineControl & 0x0202) return RTS_CONTROL_ENABLE;
  if (lineControl & 0x1000) return RTS_CONTROL_HANDSHAKE;
  if (lineControl & 0x2000) return RTS_CONTROL_TOGGLE;
  return RTS_CONTROL_DISABLE;
}

LineResult SerialOpen(const char *deviceName, const SerialSettings &settings, uint16_t lineControl,
                      HANDLE *out) {
  HANDLE h = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  *out = h;
  if (h == INVALID_HANDLE_VALUE) return kLineOpenFailed;
  // The null device is used as it opens: it has no line to configure.
  if (strcmp(deviceName, "NUL") == 0) return kLineOk;

  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = kDcbLength;
  if (!GetCommState(h, &dcb)) {
    CloseHandle(h);
    return kLineGetStateFailed;
  }
  // Time-outs before the line state: a read that follows an open never
  // waits more than a second, and writes have no limit.
  COMMTIMEOUTS timeouts = {0, 0, kOpenReadLimitMs, 0, 0};
  if (!SetCommTimeouts(h, &timeouts)) {
    CloseHandle(h);
    return kLineOpenFailed;
  }
  ApplySettings(&dcb, settings, lineControl);
  if (!SetCommState(h, &dcb)) {
    CloseHandle(h);
    return kLineSetStateFailed;
  }
  SetupComm(h, kQueueSize, kQueueSize);
  return kLineOk;
}

LineResult SerialSetReplyTimeout(HANDLE line, uint32_t units, uint32_t *previous) {
  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(line, &timeouts)) return kLineIoFailed;
  DWORD before = timeouts.ReadTotalTimeoutConstant;
  // With the other read time-outs at 0, a constant of 0 would let a read
  // wait for ever on a silent controller.
  if (units == 0) units = kDefaultReadLimitUnits;
  if (units > kMaxReadLimitUnits) units = kMaxReadLimitUnits;
  DWORD wanted = units * 10;
  if (before != wanted) {
    timeouts.ReadTotalTimeoutConstant = wanted;
    if (!SetCommTimeouts(line, &timeouts)) return kLineIoFailed;
  }
  if (previous) *previous = before / 10;
  return kLineOk;
}

LineResult SerialPurge(HANDLE line) {
  DWORD waiting = 0;
  // A line that cannot tell what waits is drained all the same.
  if (SerialWaiting(line, &waiting) == kLineOk && waiting == 0) return kLineOk;

  // Drained at a short limit; a line that will not take one is drained at
  // its own, which bounds each read all the same.
  ReadWait wait = NoReadWaitYet(line);
  LineResult shortened = SetReadWait(&wait, kPurgeReadLimitUnits * 10);
  (void)shortened;
  uint8_t scratch[kPurgeChunk];
  LineResult result = kLineOk;
  // A line still delivering a full chunk after more than a queue's worth
  // is flooding; what comes after this purge is the next read's to judge.
  for (int reads = 0; reads < kPurgeMaxReads; ++reads) {
    DWORD got = 0;
    if (!ReadFile(line, scratch, kPurgeChunk, &got, nullptr)) {
      result = kLineIoFailed;
      break;
    }
    if (got < kPurgeChunk) break;
  }
  return Ended(&wait, result);
}

LineResult SerialWaiting(HANDLE line, DWORD *waiting) {
  DWORD errors = 0;
  COMSTAT status;
  memset(&status, 0, sizeof status);
  *waiting = 0;
  // This also clears a pending line error.
  if (!ClearCommError(line, &errors, &status)) return kLineIoFailed;
  *waiting = status.cbInQue;
  return kLineOk;
}

LineResult SerialAwaitQuiet(HANDLE line, DWORD quietMs, DWORD graceMs, DWORD marginMs) {
  ReadWait wait = NoReadWaitYet(line);
  LineResult result = SetReadWait(&wait, quietMs + graceMs);
  if (result != kLineOk) return Ended(&wait, result);
  // Bounded by one read limit, the grace and the margin: a line that never
  // falls quiet is left to the next attempt's checks. Without the grace the
  // first read alone could outlast the bound, and the answer to a frame
  // still going out would end after the wait and spoil the next attempt.
  const DWORD start = GetTickCount();
  const DWORD boundMs = SaturatingSum(SaturatingSum(LineLimitMs(wait), graceMs), marginMs);
  uint8_t scratch[kPurgeChunk];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(line, scratch, kPurgeChunk, &got, nullptr)) {
      result = kLineIoFailed;
      break;
    }
    if (got == 0) break;
    if (GetTickCount() - start >= boundMs) break;
    // The grace was for the first bytes only.
    result = SetReadWait(&wait, quietMs);
    if (result != kLineOk) break;
  }
  return Ended(&wait, result);
}

LineResult SerialWrite(HANDLE line, const uint8_t *bytes, DWORD count, DWORD *written) {
  DWORD done = 0;
  if (!WriteFile(line, bytes, count, &done, nullptr)) return kLineIoFailed;
  if (written) *written = done;
  return done == count ? kLineOk : kLineShortWrite;
}

LineResult SerialRead(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received) {
  return SerialReadReply(line, buffer, count, received, 0, kNoReplyBound);
}

namespace {

// Cuts the next wait of a reply begun at `start` to the time its bound
// (the line's limit, laterMs and marginMs) has left: kLineTooSlow once none
// is left.
LineResult CutToBound(ReadWait *wait, DWORD start, DWORD laterMs, DWORD marginMs) {
  LineResult result = TakeLineLimit(wait);
  if (result != kLineOk) return result;
  DWORD limit = LineLimitMs(*wait);
  DWORD withinMs = SaturatingSum(SaturatingSum(limit, laterMs), marginMs);
  DWORD spent = GetTickCount() - start;
  if (spent >= withinMs) return kLineTooSlow;
  DWORD left = withinMs - spent;
  if (left > limit) left = limit;
  return SetReadWait(wait, left);
}

// Reads a reply from `start` on; with `begun`, bytes of it came already,
// and every wait is held to its bound.
LineResult ReadReply(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received, DWORD start,
                     bool begun, DWORD laterMs, DWORD marginMs) {
  if (received) *received = 0;
  ReadWait wait = NoReadWaitYet(line);
  LineResult result = kLineOk;
  // The first byte may come laterMs after the line's own limit.
  if (begun)
    result = CutToBound(&wait, start, laterMs, marginMs);
  else if (laterMs != 0) {
    result = TakeLineLimit(&wait);
    if (result == kLineOk) result = SetReadWait(&wait, SaturatingSum(LineLimitMs(wait), laterMs));
  }
  DWORD total = 0;
  while (result == kLineOk && total < count) {
    DWORD got = 0;
    if (!ReadFile(line, buffer + total, count - total, &got, nullptr)) {
      result = kLineIoFailed;
      break;
    }
    // A wait that brought nothing ends the read: before the first byte, the
    // controller stayed silent; after it, the reply is too slow.
    if (got == 0) {
      result = kLineIoFailed;
      if ((total != 0 || begun) && marginMs != kNoReplyBound) result = kLineTooSlow;
      break;
    }
    total += got;
    if (received) *received = total;
    if (total == count || marginMs == kNoReplyBound) continue;
    // The reply came only in part: from here on, each wait is cut to the
    // time the whole reply has left.
    result = CutToBound(&wait, start, laterMs, marginMs);
  }
  return Ended(&wait, result);
}

}  // namespace

LineResult SerialReadReply(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received,
                           DWORD laterMs, DWORD marginMs) {
  return ReadReply(line, buffer, count, received, GetTickCount(), false, laterMs, marginMs);
}

LineResult SerialReadReplyOn(HANDLE line, DWORD start, uint8_t *buffer, DWORD count,
                             DWORD *received, DWORD laterMs, DWORD marginMs) {
  return ReadReply(line, buffer, count, received, start, true, laterMs, marginMs);
}

DWORD SerialNow() { return GetTickCount(); }

LineResult SerialByteWithin(HANDLE line, DWORD waitMs, bool *came) {
  *came = false;
  ReadWait wait = NoReadWaitYet(line);
  LineResult result = SetReadWait(&wait, waitMs);
  if (result == kLineOk) {
    uint8_t byte;
    DWORD got = 0;
    if (!ReadFile(line, &byte, 1, &got, nullptr)) result = kLineIoFailed;
    *came = got == 1;
  }
  return Ended(&wait, result);
}

uint32_t SerialCharMicros(const SerialSettings &settings) {
  uint32_t dataBits = settings.dataBits & 0xFF;
  if (dataBits > 8) dataBits = 8;
  uint32_t parityBits = (settings.parity & 0xFF) != NOPARITY ? 1 : 0;
  // Tenths of a bit, for the one and a half stop bits.
  uint32_t stopTenths = 10;
  switch (settings.stopBits & 0xFF) {
    case ONE5STOPBITS:
      stopTenths = 15;
      break;
    case TWOSTOPBITS:
      stopTenths = 20;
      break;
  }
  uint32_t tenths = 10 * (1 + dataBits + parityBits) + stopTenths;
  uint32_t baud = settings.baudRate < kSlowestBaud ? kSlowestBaud : settings.baudRate;
  return (tenths * 100000u + baud - 1) / baud;
}

LineResult SerialClose(HANDLE line) { return CloseHandle(line) ? kLineOk : kLineIoFailed; }
