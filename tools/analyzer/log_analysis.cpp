#include "log_analysis.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "log_time.h"
#include "protocol/frames.h"
#include "trace_line.h"

// How far the current attempt got: what the driver waits for next.
enum AnalyzerStage {
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

struct LogAnalyzer {
  OperationSink sink;
  void *user;
  LogCounts counts;
  bool active;     // an operation is under way
  bool partial;    // it began before the log did: its outcome stays unknown
  bool skipping;   // after a break: lines up to the next enquiry are passed over
  bool fragment;   // lines of an exchange came before the first enquiry
  bool concluded;  // shown already, when the log fell quiet: not to be shown again
  Operation op;
  uint8_t header[kTraceFields - kEnquiryLength];  // as the enquiry's trace line showed it
  AnalyzerStage stage;
  int cause;  // why this attempt failed, once known; kCauseCount while not
  // The frame sent last, as traced, and its length: a reply that shows it
  // is the line's echo.
  uint8_t sent[kTraceFields];
  int sentLength;
  bool haveTime;
  double lastTime;
  double dayOffset;  // time-of-day logs that pass midnight
};

namespace {

void Emit(LogAnalyzer *a, Outcome outcome) {
  a->op.outcome = a->partial ? kUnknown : outcome;
  if (!a->concluded) a->sink(a->op, a->user);
  a->active = false;
  a->partial = false;
  a->concluded = false;
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
  a->sink(Operation{-1, false, 0, 0, 0, kUnknown}, a->user);
  a->fragment = false;
}

// A new operation from its header: the one behind an enquiry's trace
// (14 of its bytes), or one the log caught without its enquiry.
void Begin(LogAnalyzer *a, int plc, const uint8_t *header, double time, bool timed,
           AnalyzerStage stage) {
  TracedHeader h = {};
  DecodeHeader(header, &h);
  a->op = Operation{
      plc, HeaderWrites(header), h.wordAddress, h.bytes, 1, kFirstTime, {}, timed, time, time};
  memcpy(a->header, header, sizeof a->header);
  a->active = true;
  a->skipping = false;
  a->concluded = false;
  a->cause = kCauseCount;
  a->stage = stage;
}

// Why the current attempt failed, once the driver has moved on from it.
int AttemptCause(const LogAnalyzer *a) {
  if (a->cause != kCauseCount) return a->cause;
  // When the bytes did not say why, the reply it waited for did not come.
  bool dataDue = a->stage == kDataLooksRight || a->stage == kAwaitData;
  return dataDue ? kCauseDataFrame : kCauseNoAnswer;
}

// How the operation ends when its current attempt failed for cause (six
// attempts, or a refusal on the fifth or sixth); kOutcomeCount while the
// driver has another attempt to make.
Outcome EndAfterFailure(const Operation &op, int cause) {
  bool refusal = op.write ? kCauses[cause].refusalInWrite : kCauses[cause].refusalInRead;
  if (refusal && RefusalIsFinal(op.attempts)) return kRefused;
  if (op.attempts < kAttempts) return kOutcomeCount;
  return kFailed;
}

// The current attempt is over without success. True when that ends the
// operation.
bool AttemptFailed(LogAnalyzer *a) {
  int cause = AttemptCause(a);
  a->op.causes[cause]++;
  Outcome end = EndAfterFailure(a->op, cause);
  if (end == kOutcomeCount) return false;
  Emit(a, end);
  return true;
}

void OnEnquiry(LogAnalyzer *a, const uint8_t *b, double time, bool timed) {
  int plc = EnquiryPlc(b);
  const uint8_t *header = b + kEnquiryLength;
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
  Begin(a, plc, header, time, timed, kAwaitAck);
}

// A frame sent with no operation under way. A header shows its PLC: an
// exchange the log caught midway still counts for the right controller,
// with its outcome unknown; a header whose digits are damaged counts for
// none.
void OnSendOutside(LogAnalyzer *a, const uint8_t *b, double time, bool timed) {
  if (a->skipping) return;
  TracedHeader h;
  if (b[0] == SOH && DecodeHeader(b, &h) && h.plc > 0) {
    a->fragment = false;
    Begin(a, h.plc, b, time, timed, kAwaitHeaderAck);
    a->partial = true;
    return;
  }
  a->fragment = true;
}

void OnSend(LogAnalyzer *a, const uint8_t *b, double time, bool timed) {
  bool write = a->op.write;
  if (IsEnquiry(b))
    OnEnquiry(a, b, time, timed);
  else if (!a->active)
    OnSendOutside(a, b, time, timed);
  else if (a->cause != kCauseCount)  // after a failed reply only an enquiry fits
    Break(a);
  else if (b[0] == SOH && a->stage == kAcked && memcmp(b, a->header, sizeof a->header) == 0)
    a->stage = kAwaitHeaderAck;
  else if (b[0] == STX && write && a->stage == kHeaderAcked)
    a->stage = kAwaitDataAck;
  else if (b[0] == ACK && !write && a->stage == kDataLooksRight)
    a->stage = kAwaitEot;
  else if (b[0] == EOT &&
           ((!write && a->stage == kEotReceived) || (write && a->stage == kDataAcked)))
    Emit(a, a->op.attempts == 1 ? kFirstTime : kRetried);
  else
    Break(a);
}

// The acknowledge an enquiry waits for: kCauseCount when it is right.
int AcknowledgeCause(const LogAnalyzer *a, const uint8_t *b) {
  bool ours = EnquiryPlc(b) == a->op.plc;
  if (b[0] == kEnquiryStart && ours && b[2] == ACK) return kCauseCount;
  if (b[0] == kEnquiryStart) return ours ? kCauseNoAck : kCauseAnotherStation;
  return b[0] == 0 && b[1] == 0 && b[2] == 0 ? kCauseNoAnswer : kCauseBadAcknowledge;
}

// Judges a reply by its bytes. A reply that did not come leaves the
// previous bytes of the buffer in the trace, so a reply that looks right is
// only taken as right once the driver goes on with the dialogue.
void OnReceive(LogAnalyzer *a, const uint8_t *b) {
  // The line gave back the frame just sent: the driver set it aside and
  // read the answer behind it.
  if (a->sentLength && ShowsEcho(b, a->sent, a->sentLength)) return;
  if (!a->active) {
    if (!a->skipping) a->fragment = true;
    return;
  }
  if (a->cause != kCauseCount) {
    Break(a);
    return;
  }
  switch (a->stage) {
    case kAwaitAck:
      a->cause = AcknowledgeCause(a, b);
      if (a->cause == kCauseCount) a->stage = kAcked;
      break;
    case kAwaitHeaderAck:
      a->cause = b[0] == ACK             ? kCauseCount
                 : b[0] == kEnquiryStart ? kCauseNoAnswer
                                         : kCauseHeaderRefused;
      if (b[0] == ACK) a->stage = a->op.write ? kHeaderAcked : kAwaitData;
      break;
    case kAwaitData:
      a->stage = kDataLooksRight;
      break;
    case kAwaitEot:
      a->cause = b[0] == EOT ? kCauseCount : b[0] == STX ? kCauseNoEot : kCauseBadEot;
      if (b[0] == EOT) a->stage = kEotReceived;
      break;
    case kAwaitDataAck:
      a->cause = b[0] == ACK ? kCauseCount : kCauseDataRefused;
      if (b[0] == ACK) a->stage = kDataAcked;
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

// The line's time stamp, if any before the driver's text; lines out of order break.
bool LineTime(LogAnalyzer *a, const char *line, const char *text, double *time) {
  bool dated = false;
  if (!FindLogTime(line, text, time, &dated)) return false;
  if (dated) a->counts.dated = true;
  *time += a->dayOffset;
  // A time-of-day log that passes midnight starts the clock again.
  if (!dated && a->haveTime && *time < a->lastTime - kDayMs / 2) {
    a->dayOffset += kDayMs;
    *time += kDayMs;
  }
  if (a->haveTime && *time < a->lastTime) {
    // Lines out of order: nothing under way can be trusted.
    a->counts.outOfOrder++;
    Break(a);
  }
  a->haveTime = true;
  a->lastTime = *time;
  return true;
}

// A port that would not open, the first time the log names it.
void NotePort(LogCounts *c, const char *port) {
  for (int k = 0; k < c->portCount; ++k)
    if (strncmp(c->ports[k], port, sizeof c->ports[k] - 1) == 0) return;
  if (c->portCount == kPortsNamed) return;
  snprintf(c->ports[c->portCount], sizeof c->ports[0], "%s", port);
  c->portCount += 1;
}

}  // namespace

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
  TraceLine t = ReadTraceLine(line);
  if (t.kind == kTraceOther)
    ReadBannerVersion(line, a->counts.driverVersion, sizeof a->counts.driverVersion);
  if (t.kind == kTraceOther || t.kind == kTraceUnknown) a->counts.skippedLines++;
  if (t.kind == kTraceOther) return;
  a->counts.driverLines++;
  double time = 0;
  bool timed = LineTime(a, line, t.text, &time);
  if (a->active) {
    if (timed) a->op.end = time;
    a->op.timed = a->op.timed && timed;
  }
  if (t.damaged) {
    a->counts.damagedLines++;
    Break(a);
    a->skipping = true;
  } else if (t.kind == kTraceSent) {
    OnSend(a, t.bytes, time, timed);
    memcpy(a->sent, t.bytes, sizeof a->sent);
    a->sentLength = SentLength(t.bytes, a->op.bytes);
  } else if (t.kind == kTraceReceived) {
    OnReceive(a, t.bytes);
  } else if (t.kind == kTraceOpenFailed) {
    a->counts.openFailures++;
    NotePort(&a->counts, OpenFailedPort(t));
  } else if (t.kind == kTraceDiagnostic) {
    OnDiagnostic(a, t.cause);
  } else if (t.kind == kTraceEcho) {
    a->counts.echoed++;
  }
}

void AnalyzerEnd(LogAnalyzer *a) {
  EmitFragment(a);
  if (!a->active) return;
  // A failure the bytes showed ends the operation if it was its last
  // chance; any other ending is not in the log.
  if (a->cause != kCauseCount && AttemptFailed(a)) return;
  Emit(a, kUnknown);
}

void AnalyzerQuiet(LogAnalyzer *a) {
  // Only a failed reply, or a data frame the driver did not go on from,
  // leaves the next line to the driver alone, which writes it at once.
  bool failed = a->cause != kCauseCount || a->stage == kDataLooksRight;
  if (!a->active || a->concluded || !failed) return;
  int cause = AttemptCause(a);
  Outcome end = EndAfterFailure(a->op, cause);
  if (end == kOutcomeCount) return;
  // Shown as it stands; the lines that may still come of it are read as
  // usual, and its end is then not shown a second time.
  Operation shown = a->op;
  shown.causes[cause]++;
  shown.outcome = a->partial ? kUnknown : end;
  a->sink(shown, a->user);
  a->concluded = true;
}

const LogCounts *AnalyzerCounts(const LogAnalyzer *a) { return &a->counts; }

int MainCause(const Operation &op) {
  int best = kCauseCount;
  for (int c = 0; c < kCauseCount; ++c)
    if (op.causes[c] && (best == kCauseCount || op.causes[c] > op.causes[best])) best = c;
  return best;
}
