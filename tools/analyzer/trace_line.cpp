#include "trace_line.h"

#include <string.h>

#include "protocol/frames.h"

namespace {

// Which cause each diagnostic names; kCauseCount where the bytes traced
// before it already tell which.
// clang-format off
const struct { const char *text; int cause; } kDiagnostics[] = {
  {kLogBadLrc,              kCauseBadCheckByte},
  {kLogBadStx,              kCauseBadStx},
  {kLogNoEot,               kCauseNoEot},
  {kLogBadEot,              kCauseBadEot},
  {kLogBadEtx,              kCauseDataFrame},
  {kLogDataOverrun,         kCauseDataFrame},
  {kLogReadBadAcknowledge,  kCauseCount},
  {kLogReadBadAck,          kCauseCount},
  {kLogWriteBadAcknowledge, kCauseCount},
  {kLogBlockBadAcknowledge, kCauseCount},
  {kLogNoAckInAcknowledge,  kCauseNoAck},
  {kLogBadHeaderAck,        kCauseHeaderRefused},
  {kLogBadDataAck,          kCauseDataRefused},
  {kLogBytesAfterAck,       kCauseBytesAfterAck},
};
// clang-format on

// The banner's words before its version (host/describe.cpp).
constexpr char kBannerVersion[] = "serial driver Version ";

bool StartsWith(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Exactly 17 two-digit fields, one space apart; only blanks may follow.
bool ParseFields(const char *p, uint8_t *b) {
  for (int i = 0; i < kTraceFields; ++i) {
    int v = Hex2(reinterpret_cast<const uint8_t *>(p));
    if (v < 0) return false;
    b[i] = static_cast<uint8_t>(v);
    p += 2;
    if (i + 1 < kTraceFields && *p++ != ' ') return false;
  }
  while (*p == ' ' || *p == '\r' || *p == '\t') ++p;
  return *p == 0;
}

// The driver's text in the line: the first "ORVEN" that starts one of its prefixes.
const char *DriverText(const char *line) {
  for (const char *p = strstr(line, "ORVEN"); p; p = strstr(p + 1, "ORVEN"))
    if (StartsWith(p, ORVEN_TRACE_PREFIX) || StartsWith(p, ORVEN_ERROR_PREFIX)) return p;
  return nullptr;
}

}  // namespace

int Hex2(const uint8_t *p) {
  int high = HexDigit(p[0]);
  if (high < 0) return -1;  // p[1] may be past the end of the text
  int low = HexDigit(p[1]);
  if (low < 0) return -1;
  return high * 16 + low;
}

TraceLine ReadTraceLine(const char *line) {
  TraceLine t = {};
  t.cause = kCauseCount;
  t.text = DriverText(line);
  if (!t.text) return t;
  bool sent = StartsWith(t.text, ORVEN_TRACE_SENT);
  if (sent || StartsWith(t.text, ORVEN_TRACE_RECEIVED)) {
    t.kind = sent ? kTraceSent : kTraceReceived;
    t.damaged = !ParseFields(t.text + strlen(ORVEN_TRACE_SENT), t.bytes);
    return t;
  }
  t.kind = StartsWith(t.text, ORVEN_OPEN_FAILED) ? kTraceOpenFailed : kTraceUnknown;
  if (StartsWith(t.text, kLogEchoSetAside)) t.kind = kTraceEcho;
  for (const auto &d : kDiagnostics)
    if (StartsWith(t.text, d.text)) t = TraceLine{kTraceDiagnostic, t.text, false, {}, d.cause};
  return t;
}

bool ShowsEcho(const uint8_t *received, const uint8_t *sent, int length) {
  return memcmp(received, sent, static_cast<size_t>(length)) == 0;
}

int SentLength(const uint8_t *sent, int dataBytes) {
  int length = 1;  // ACK or EOT
  if (sent[0] == kEnquiryStart) length = kEnquiryLength;
  if (sent[0] == SOH) length = kHeaderLength;
  if (sent[0] == STX) length = dataBytes + kFrameOverhead;
  return length < kTraceFields ? length : kTraceFields;
}

bool ReadBannerVersion(const char *line, char *version, int size) {
  const char *p = strstr(line, kBannerVersion);
  if (!p || size < 1) return false;
  p += strlen(kBannerVersion);
  int n = 0;
  while (n + 1 < size && ((p[n] >= '0' && p[n] <= '9') || p[n] == '.')) {
    version[n] = p[n];
    ++n;
  }
  version[n] = 0;
  return n > 0;
}

const char *OpenFailedPort(const TraceLine &t) {
  return t.kind == kTraceOpenFailed ? t.text + strlen(ORVEN_OPEN_FAILED) : nullptr;
}

bool DecodeHeader(const uint8_t *b, TracedHeader *out) {
  int plc = Hex2(b + 1), hi = Hex2(b + 5), lo = Hex2(b + 7), blocks = Hex2(b + 9),
      last = Hex2(b + 11);
  if (b[0] != SOH || plc < 0 || hi < 0 || lo < 0 || blocks < 0 || last < 0) return false;
  *out =
      TracedHeader{plc, HeaderWrites(b), static_cast<uint32_t>(hi * 256 + lo), blocks * 256 + last};
  return true;
}

bool HeaderWrites(const uint8_t *b) { return b[3] == '8'; }

bool IsEnquiry(const uint8_t *b) { return b[0] == kEnquiryStart && b[2] == ENQ; }
int EnquiryPlc(const uint8_t *b) { return (b[1] - kStationOffset) & 0xFF; }
