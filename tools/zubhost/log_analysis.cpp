#include "log_analysis.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// clang-format off
const char *const kCauseKeys[kCauseCount] = {
  "no_answer", "another_station", "bad_acknowledge", "no_ack", "header_refused",
  "data_refused", "bad_check_byte", "bad_stx", "data_frame", "no_eot", "bad_eot"};
const char *const kCauseTexts[kCauseCount] = {
  "no answer", "another station answered", "garbled acknowledge", "no ACK in the acknowledge",
  "header refused", "data refused", "bad check byte", "bad STX",
  "data frame missing, short or rejected", "no EOT", "bad EOT"};
const char *const kOutcomeKeys[kOutcomeCount] = {
  "first_time", "retried", "refused", "failed", "unknown"};

// The diagnostics the transactions log, and the cause each one names.
// kCauseCount: the bytes traced before it already tell which.
const struct { const char *text; int cause; } kDiagnostics[] = {
  {"ORVEN> SingleRead() Bad LRC in Data msg",            kCauseBadCheckByte},
  {"ORVEN> SingleRead() Bad STX in Data msg",            kCauseBadStx},
  {"ORVEN> SingleRead() No EOT after ACK",               kCauseNoEot},
  {"ORVEN> SingleRead() Bad EOT after ACK",              kCauseBadEot},
  {"ORVEN> SingleRead() Bad Acknowledge msg received",   kCauseCount},
  {"ORVEN> SingleRead() Bad ACK received",               kCauseCount},
  {"ORVEN> SingleWrite() Bad Acknowledge msg received",  kCauseCount},
  {"ORVEN> SingleWrite() Bad Acknowledge after Enquiry", kCauseCount},
  {"ORVEN> SingleWrite() No ACK in Acknowledge",         kCauseNoAck},
  {"ORVEN> SingleWrite() Bad ACK after Header",          kCauseHeaderRefused},
  {"ORVEN> SingleWrite() Bad ACK after Data",            kCauseDataRefused},
};
// clang-format on

constexpr uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kEnq = 0x05, kAck = 0x06, kN = 0x4E;
constexpr int kFields = 17;
constexpr int kAttempts = 6;
constexpr int kFirstFinalAttempt = 5;  // a refusal ends the operation from here on

// How far the current attempt got: what the driver waits for next.
enum Stage {
  kAwaitAck,        // sent the enquiry
  kAcked,           // the acknowledge looked right
  kAwaitHeaderAck,  // sent the header
  kAwaitData,       // read: header acknowledged, data frame to come
  kDataLooksRight,  // read: the data frame looked right
  kAwaitEot,        // read: sent ACK
  kEotReceived,     // read: EOT came
  kHeaderAcked,     // write: header acknowledged
  kAwaitDataAck,    // write: sent the data frame
  kDataAcked,       // write: ACK after the data frame
};

}  // namespace

struct LogAnalyzer {
  OperationSink sink;
  void *user;
  LogCounts counts;
  bool active;    // an operation is under way
  bool partial;   // it began before the log did: its outcome stays unknown
  bool skipping;  // after a break: lines up to the next enquiry are passed over
  bool fragment;  // lines of an exchange came before the first enquiry
  Operation op;
  uint8_t header[14];  // the header as the enquiry's trace line showed it
  Stage stage;
  int cause;  // why this attempt failed, once known; kCauseCount while not
  bool haveTime;
  double lastTime;
  double dayOffset;  // time-of-day logs that pass midnight
};

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Digits(const char *p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// Days since 1970-01-01 of a civil date.
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// HH:MM:SS[.fff] at p: milliseconds of the day, or -1.
double TimeOfDay(const char *p, const char **end) {
  int h = Digits(p, 2), m = Digits(p + 3, 2), s = Digits(p + 6, 2);
  if (h < 0 || m < 0 || s < 0 || p[2] != ':' || p[5] != ':' || h > 23 || m > 59 || s > 60)
    return -1;
  double ms = ((h * 60.0 + m) * 60.0 + s) * 1000.0;
  p += 8;
  if (*p == '.' || *p == ',') {
    double scale = 100.0;
    for (++p; *p >= '0' && *p <= '9'; ++p, scale /= 10) ms += (*p - '0') * scale;
  }
  *end = p;
  return ms;
}

// The first time stamp in [p, limit): an ISO 8601 date and time, or a time
// of day. Returns false when there is none.
bool FindTime(const char *p, const char *limit, double *ms, bool *dated) {
  for (; p + 8 <= limit; ++p) {
    const char *end;
    if (p + 19 <= limit && p[4] == '-' && p[7] == '-' && (p[10] == 'T' || p[10] == ' ')) {
      int y = Digits(p, 4), mo = Digits(p + 5, 2), d = Digits(p + 8, 2);
      double t = y >= 0 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 ? TimeOfDay(p + 11, &end) : -1;
      if (t >= 0) {
        *ms = static_cast<double>(DaysFromCivil(y, mo, d)) * 86400000.0 + t;
        *dated = true;
        return true;
      }
    }
    if (p[0] >= '0' && p[0] <= '9') {
      double t = TimeOfDay(p, &end);
      if (t >= 0) {
        *ms = t;
        *dated = false;
        return true;
      }
    }
  }
  return false;
}

// Exactly 17 two-digit hexadecimal fields; false for a line cut short.
bool ParseFields(const char *p, uint8_t *b) {
  for (int i = 0; i < kFields; ++i) {
    int hi = Hex(p[0]), lo = hi < 0 ? -1 : Hex(p[1]);
    if (lo < 0) return false;
    b[i] = static_cast<uint8_t>(hi * 16 + lo);
    p += 2;
    if (i + 1 < kFields && *p++ != ' ') return false;
  }
  while (*p == ' ' || *p == '\r' || *p == '\t') ++p;
  return *p == 0;
}

bool IsRefusal(int cause, bool write) {
  if (cause == kCauseNoAck) return true;
  return !write && (cause == kCauseHeaderRefused || cause == kCauseBadStx || cause == kCauseBadEot);
}

void Emit(LogAnalyzer *a, Outcome outcome) {
  a->op.outcome = a->partial ? kUnknown : outcome;
  a->sink(a->op, a->user);
  a->active = false;
  a->partial = false;
}

// The log no longer fits the dialogue: whatever was under way is unknown,
// and nothing is read into the lines that follow until an enquiry.
void Break(LogAnalyzer *a) {
  if (a->active) {
    Emit(a, kUnknown);
    a->skipping = true;
  }
}

void EmitFragment(LogAnalyzer *a) {
  if (!a->fragment) return;
  Operation op = {};
  op.plc = -1;
  op.outcome = kUnknown;
  a->sink(op, a->user);
  a->fragment = false;
}

void Begin(LogAnalyzer *a, int plc, bool write, const uint8_t *header, double time, bool timed) {
  memset(&a->op, 0, sizeof a->op);
  a->op.plc = plc;
  a->op.write = write;
  int hi = Hex(static_cast<char>(header[5])) * 16 + Hex(static_cast<char>(header[6]));
  int lo = Hex(static_cast<char>(header[7])) * 16 + Hex(static_cast<char>(header[8]));
  int blocks = Hex(static_cast<char>(header[9])) * 16 + Hex(static_cast<char>(header[10]));
  int last = Hex(static_cast<char>(header[11])) * 16 + Hex(static_cast<char>(header[12]));
  a->op.wordAddress = hi >= 0 && lo >= 0 ? static_cast<uint32_t>(hi * 256 + lo) : 0;
  a->op.bytes = blocks >= 0 && last >= 0 ? blocks * 256 + last : 0;
  a->op.attempts = 1;
  a->op.timed = timed;
  a->op.start = a->op.end = time;
  memcpy(a->header, header, sizeof a->header);
  a->active = true;
  a->skipping = false;
  a->cause = kCauseCount;
}

// Why the current attempt failed when the bytes did not say it outright:
// the driver moved on, so the reply it waited for did not come.
int InferredCause(const LogAnalyzer *a) {
  if (a->cause != kCauseCount) return a->cause;
  return a->stage == kDataLooksRight || a->stage == kAwaitData ? kCauseDataFrame : kCauseNoAnswer;
}

// The current attempt is over without success. True when that ends the
// operation (six attempts, or a refusal on the fifth or sixth).
bool AttemptFailed(LogAnalyzer *a) {
  int cause = InferredCause(a);
  a->op.causes[cause]++;
  if (IsRefusal(cause, a->op.write) && a->op.attempts >= kFirstFinalAttempt) {
    Emit(a, kRefused);
    return true;
  }
  if (a->op.attempts >= kAttempts) {
    Emit(a, kFailed);
    return true;
  }
  return false;
}

void OnEnquiry(LogAnalyzer *a, const uint8_t *b, double time, bool timed) {
  int plc = (b[1] - 0x20) & 0xFF;
  const uint8_t *header = b + 3;
  EmitFragment(a);
  if (a->active && !AttemptFailed(a)) {
    // A retry repeats the same enquiry and header; anything else means the
    // log lost lines.
    if (plc == a->op.plc && memcmp(header, a->header, sizeof a->header) == 0) {
      a->op.attempts++;
      a->stage = kAwaitAck;
      a->cause = kCauseCount;
      return;
    }
    Break(a);
  }
  Begin(a, plc, header[3] == '8', header, time, timed);
  a->stage = kAwaitAck;
}

void OnSend(LogAnalyzer *a, const uint8_t *b, double time, bool timed) {
  if (b[0] == kN && b[2] == kEnq) return OnEnquiry(a, b, time, timed);
  if (!a->active) {
    // A header shows its PLC: an exchange the log caught midway still
    // counts for the right controller, with its outcome unknown.
    if (b[0] == kSoh && !a->skipping) {
      int plc = Hex(static_cast<char>(b[1])) * 16 + Hex(static_cast<char>(b[2]));
      if (plc > 0) {
        a->fragment = false;
        Begin(a, plc, b[3] == '8', b, time, timed);
        a->partial = true;
        a->stage = kAwaitHeaderAck;
        return;
      }
    }
    if (!a->skipping) a->fragment = true;
    return;
  }
  bool write = a->op.write;
  if (a->cause != kCauseCount) return Break(a);
  if (b[0] == kSoh && a->stage == kAcked && memcmp(b, a->header, sizeof a->header) == 0)
    a->stage = kAwaitHeaderAck;
  else if (b[0] == kStx && write && a->stage == kHeaderAcked)
    a->stage = kAwaitDataAck;
  else if (b[0] == kAck && !write && a->stage == kDataLooksRight)
    a->stage = kAwaitEot;
  else if (b[0] == kEot &&
           ((!write && a->stage == kEotReceived) || (write && a->stage == kDataAcked)))
    Emit(a, a->op.attempts == 1 ? kFirstTime : kRetried);
  else
    Break(a);
}

// Judges a reply by its bytes. A reply that did not come leaves the
// previous bytes of the buffer in the trace, so a reply that looks right is
// only taken as right once the driver goes on with the dialogue.
void OnReceive(LogAnalyzer *a, const uint8_t *b) {
  if (!a->active) {
    if (!a->skipping) a->fragment = true;
    return;
  }
  if (a->cause != kCauseCount) return Break(a);
  int station = (a->op.plc + 0x20) & 0xFF;
  switch (a->stage) {
    case kAwaitAck:
      if (b[0] == kN && b[1] == station && b[2] == kAck)
        a->stage = kAcked;
      else if (b[0] == kN && b[1] != station)
        a->cause = kCauseAnotherStation;
      else if (b[0] == kN)
        a->cause = kCauseNoAck;
      else
        a->cause = b[0] == 0 && b[1] == 0 && b[2] == 0 ? kCauseNoAnswer : kCauseBadAcknowledge;
      break;
    case kAwaitHeaderAck:
      if (b[0] == kAck)
        a->stage = a->op.write ? kHeaderAcked : kAwaitData;
      else
        a->cause = b[0] == kN ? kCauseNoAnswer : kCauseHeaderRefused;
      break;
    case kAwaitData:
      a->stage = kDataLooksRight;
      break;
    case kAwaitEot:
      if (b[0] == kEot)
        a->stage = kEotReceived;
      else
        a->cause = b[0] == kStx ? kCauseNoEot : kCauseBadEot;
      break;
    case kAwaitDataAck:
      if (b[0] == kAck)
        a->stage = kDataAcked;
      else
        a->cause = kCauseDataRefused;
      break;
    default:
      Break(a);
  }
}

void OnDiagnostic(LogAnalyzer *a, int cause) {
  if (!a->active) return;
  if (cause != kCauseCount)
    a->cause = cause;
  else if (a->cause == kCauseCount)
    a->cause =
        a->stage == kAcked || a->stage == kAwaitAck ? kCauseBadAcknowledge : kCauseHeaderRefused;
}

}  // namespace

const char *CauseKey(int cause) {
  return cause >= 0 && cause < kCauseCount ? kCauseKeys[cause] : "?";
}
const char *CauseText(int cause) {
  return cause >= 0 && cause < kCauseCount ? kCauseTexts[cause] : "?";
}
const char *OutcomeKey(int outcome) {
  return outcome >= 0 && outcome < kOutcomeCount ? kOutcomeKeys[outcome] : "?";
}

LogAnalyzer *AnalyzerCreate(OperationSink sink, void *user) {
  LogAnalyzer *a = static_cast<LogAnalyzer *>(calloc(1, sizeof(LogAnalyzer)));
  if (!a) return nullptr;
  a->sink = sink;
  a->user = user;
  return a;
}

void AnalyzerDestroy(LogAnalyzer *a) { free(a); }

void AnalyzerLine(LogAnalyzer *a, const char *line) {
  a->counts.lines++;
  const char *text = strstr(line, "ORVEN");
  if (!text || (strncmp(text, "ORVEN> ", 7) != 0 && strncmp(text, "ORVEN: ", 7) != 0)) {
    a->counts.skippedLines++;
    return;
  }
  a->counts.driverLines++;
  double time = 0;
  bool dated = false;
  bool timed = FindTime(line, text, &time, &dated);
  if (timed) {
    if (dated) a->counts.dated = true;
    time += a->dayOffset;
    // A time-of-day log that passes midnight starts the clock again.
    if (!dated && a->haveTime && time < a->lastTime - 12 * 3600000.0) {
      a->dayOffset += 86400000.0;
      time += 86400000.0;
    }
    if (a->haveTime && time < a->lastTime) {
      // Lines out of order: nothing under way can be trusted.
      a->counts.outOfOrder++;
      Break(a);
    }
    a->haveTime = true;
    a->lastTime = time;
  }
  if (a->active) {
    if (timed) a->op.end = time;
    a->op.timed = a->op.timed && timed;
  }
  uint8_t b[kFields];
  if (strncmp(text, "ORVEN> SendStr() Tx ", 20) == 0 ||
      strncmp(text, "ORVEN> RecvStr() Rx ", 20) == 0) {
    if (!ParseFields(text + 20, b)) {
      a->counts.damagedLines++;
      Break(a);
      a->skipping = true;
      return;
    }
    if (text[7] == 'S')
      OnSend(a, b, time, timed);
    else
      OnReceive(a, b);
    return;
  }
  if (strncmp(text, "ORVEN: Failed to open ", 22) == 0) {
    a->counts.openFailures++;
    return;
  }
  for (const auto &d : kDiagnostics) {
    if (strncmp(text, d.text, strlen(d.text)) == 0) {
      OnDiagnostic(a, d.cause);
      return;
    }
  }
  a->counts.skippedLines++;
}

void AnalyzerEnd(LogAnalyzer *a) {
  EmitFragment(a);
  if (!a->active) return;
  // A failure the bytes showed ends the operation if it was its last
  // chance; any other ending is not in the log.
  if (a->cause != kCauseCount && AttemptFailed(a)) return;
  Emit(a, kUnknown);
}

const LogCounts *AnalyzerCounts(const LogAnalyzer *a) { return &a->counts; }

void FormatLogTime(double ms, bool dated, char *out, int size) {
  long long total = static_cast<long long>(ms);
  long long days = total / 86400000LL;
  int inDay = static_cast<int>(total % 86400000LL);
  int h = inDay / 3600000, m = inDay / 60000 % 60, s = inDay / 1000 % 60, f = inDay % 1000;
  if (!dated) {
    snprintf(out, static_cast<size_t>(size), "%02d:%02d:%02d.%03d", h, m, s, f);
    return;
  }
  // Civil date from days since 1970-01-01.
  long long z = days + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int mo = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  long long y = yoe + era * 400 + (mo <= 2);
  snprintf(out, static_cast<size_t>(size), "%04lld-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, m,
           s, f);
}
