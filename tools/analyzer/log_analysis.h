// Rebuilds the driver's operations from the lines it wrote into a host's
// log: each enquiry, header, reply and diagnostic, in order, tells how far
// an attempt got and why it was given up. Lines go in one at a time; each
// operation comes out through a callback as soon as its end is known, so
// memory does not grow with the log.
#pragma once

#include <stdint.h>

#include "protocol/protocol_facts.h"

enum Outcome { kFirstTime, kRetried, kRefused, kFailed, kUnknown, kOutcomeCount };

// Each outcome's key in JSON and its words in reports and pictures.
struct OutcomeFacts {
  const char *key, *label;
};
inline constexpr OutcomeFacts kOutcomes[] = {{"first_time", "done at the first attempt"},
                                             {"retried", "done after retries"},
                                             {"refused", "refused"},
                                             {"failed", "failed"},
                                             {"unknown", "outcome not in the log"}};
static_assert(sizeof kOutcomes / sizeof kOutcomes[0] == kOutcomeCount, "a row for every outcome");
// Whether the operation was given up, refused or failed: what failure rates count.
inline bool GivenUp(Outcome outcome) { return outcome == kRefused || outcome == kFailed; }

// A PLC number is the header's two hexadecimal digits.
constexpr int kPlcNumbers = 256;

struct Operation {
  int plc;  // -1 when the log does not show which
  bool write;
  uint32_t wordAddress;  // the header's word number; V-memory address + 1
  int bytes;             // data bytes the header announced
  int attempts;
  Outcome outcome;
  uint8_t causes[kCauseCount];  // failed attempts by cause
  bool timed;                   // start and end are known
  double start, end;            // milliseconds (see log_time.h)
};

// Whether the log showed the operation's PLC.
inline bool PlcKnown(const Operation &op) { return op.plc >= 0 && op.plc < kPlcNumbers; }
// The cause of most of its failed attempts; kCauseCount when none failed.
int MainCause(const Operation &op);

typedef void (*OperationSink)(const Operation &op, void *user);

struct LogAnalyzer;
constexpr int kPortsNamed = 8;  // the ports a log names, kept for a report
struct LogCounts {
  unsigned long lines, driverLines, skippedLines, damagedLines, outOfOrder, openFailures;
  unsigned long echoed;         // operations on a line that echoed, the echo set aside
  bool dated;                   // time stamps carried a date (else only a time of day)
  char driverVersion[24];       // from the driver's banner, when the log holds it
  char ports[kPortsNamed][16];  // named by the lines of ports that would not open
  int portCount;
};

LogAnalyzer *AnalyzerCreate(OperationSink sink, void *user);
void AnalyzerDestroy(LogAnalyzer *a);
// One line of the log, without its line end; anything may precede the driver's text.
void AnalyzerLine(LogAnalyzer *a, const char *line);
// The log is over: an operation whose end it does not show is unknown.
void AnalyzerEnd(LogAnalyzer *a);
// The log has been quiet for longer than the driver pauses on its own
// turn: an operation whose last attempt has failed ended there, and is
// passed on now. Should more of it come after all, it is not passed on again.
void AnalyzerQuiet(LogAnalyzer *a);
const LogCounts *AnalyzerCounts(const LogAnalyzer *a);
