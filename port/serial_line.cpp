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

uint32_t SerialSetReplyTimeout(HANDLE line, uint32_t units) {
  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(line, &timeouts)) return 0;
  DWORD previous = timeouts.ReadTotalTimeoutConstant;
  // With the other read time-outs at 0, a constant of 0 would let a read
  // wait for ever on a silent controller.
  if (units == 0) units = kDefaultReadLimitUnits;
  if (units > kMaxReadLimitUnits) units = kMaxReadLimitUnits;
  DWORD wanted = units * 10;
  if (previous != wanted) {
    timeouts.ReadTotalTimeoutConstant = wanted;
    if (!SetCommTimeouts(line, &timeouts)) return 0;
  }
  return previous / 10;
}

LineResult SerialPurge(HANDLE line) {
  DWORD errors = 0;
  COMSTAT status;
  memset(&status, 0, sizeof status);
  bool failed = !ClearCommError(line, &errors, &status);
  if (!failed && status.cbInQue == 0) return kLineOk;

  uint32_t saved = SerialSetReplyTimeout(line, kPurgeReadLimitUnits);
  uint8_t scratch[kPurgeChunk];
  bool readFailed = false;
  // A line still delivering a full chunk after more than a queue's worth
  // is flooding; what comes after this purge is the next read's to judge.
  for (int reads = 0; reads < kPurgeMaxReads; ++reads) {
    DWORD got = 0;
    if (!ReadFile(line, scratch, kPurgeChunk, &got, nullptr)) {
      readFailed = true;
      break;
    }
    if (got < kPurgeChunk) break;
  }
  if (saved != 0) SerialSetReplyTimeout(line, saved);
  return readFailed ? kLineIoFailed : kLineOk;
}

DWORD SerialWaiting(HANDLE line) {
  DWORD errors = 0;
  COMSTAT status;
  memset(&status, 0, sizeof status);
  if (!ClearCommError(line, &errors, &status)) return 0;
  return status.cbInQue;
}

LineResult SerialAwaitQuiet(HANDLE line, DWORD quietMs, DWORD graceMs, DWORD marginMs) {
  COMMTIMEOUTS saved;
  if (!GetCommTimeouts(line, &saved)) return kLineIoFailed;
  COMMTIMEOUTS quiet = saved;
  quiet.ReadTotalTimeoutConstant = quietMs + graceMs;
  if (!SetCommTimeouts(line, &quiet)) return kLineIoFailed;
  // Bounded by one read limit, the grace and the margin: a line that never
  // falls quiet is left to the next attempt's checks. Without the grace the
  // first read alone could outlast the bound, and the answer to a frame
  // still going out would end after the wait and spoil the next attempt.
  const DWORD start = GetTickCount();
  const DWORD boundMs =
      SaturatingSum(SaturatingSum(saved.ReadTotalTimeoutConstant, graceMs), marginMs);
  uint8_t scratch[kPurgeChunk];
  LineResult result = kLineOk;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(line, scratch, kPurgeChunk, &got, nullptr)) {
      result = kLineIoFailed;
      break;
    }
    if (got == 0) break;
    if (GetTickCount() - start >= boundMs) break;
    if (quiet.ReadTotalTimeoutConstant != quietMs) {
      quiet.ReadTotalTimeoutConstant = quietMs;
      if (!SetCommTimeouts(line, &quiet)) {
        result = kLineIoFailed;
        break;
      }
    }
  }
  if (!SetCommTimeouts(line, &saved)) return kLineIoFailed;
  return result;
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

LineResult SerialReadReply(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received,
                           DWORD laterMs, DWORD marginMs) {
  if (received) *received = 0;
  const DWORD start = GetTickCount();
  COMMTIMEOUTS saved;
  bool known = false;  // saved holds the line's own time-outs
  DWORD current = 0;   // the wait in force when it is not the line's own
  if (laterMs != 0 && GetCommTimeouts(line, &saved)) {
    known = true;
    COMMTIMEOUTS first = saved;
    first.ReadTotalTimeoutConstant = SaturatingSum(saved.ReadTotalTimeoutConstant, laterMs);
    if (SetCommTimeouts(line, &first)) current = first.ReadTotalTimeoutConstant;
  }
  DWORD total = 0;
  LineResult result = kLineOk;
  while (total < count) {
    DWORD got = 0;
    if (!ReadFile(line, buffer + total, count - total, &got, nullptr)) {
      result = kLineIoFailed;
      break;
    }
    // ReadFile only gives up when a whole read limit brought nothing more.
    if (got == 0) {
      result = kLineIoFailed;
      break;
    }
    total += got;
    if (received) *received = total;
    if (total == count || marginMs == kNoReplyBound) continue;
    // The reply came only in part: from here on, each wait is cut to the
    // time the whole reply has left.
    if (!known && !GetCommTimeouts(line, &saved)) continue;
    known = true;
    DWORD limit = saved.ReadTotalTimeoutConstant;
    DWORD withinMs = SaturatingSum(SaturatingSum(limit, laterMs), marginMs);
    DWORD spent = GetTickCount() - start;
    if (spent >= withinMs) {
      result = kLineTooSlow;
      break;
    }
    DWORD wait = withinMs - spent < limit ? withinMs - spent : limit;
    if (wait == (current ? current : limit)) continue;
    COMMTIMEOUTS next = saved;
    next.ReadTotalTimeoutConstant = wait;
    if (SetCommTimeouts(line, &next)) current = wait == limit ? 0 : wait;
  }
  if (current) SetCommTimeouts(line, &saved);
  return result;
}

bool SerialByteWithin(HANDLE line, DWORD waitMs) {
  COMMTIMEOUTS saved;
  if (!GetCommTimeouts(line, &saved)) return false;
  COMMTIMEOUTS wait = saved;
  wait.ReadTotalTimeoutConstant = waitMs;
  if (!SetCommTimeouts(line, &wait)) return false;
  uint8_t byte;
  DWORD got = 0;
  bool came = ReadFile(line, &byte, 1, &got, nullptr) && got == 1;
  SetCommTimeouts(line, &saved);
  return came;
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
