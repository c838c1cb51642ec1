// The per-PLC summary of a log's operations, as text or as one JSON
// document with fixed keys; the page and the live view read it too.
#pragma once

#include <stdio.h>

#include "log_analysis.h"

struct PlcStats {
  unsigned long operations, outcomes[kOutcomeCount], retries, causes[kCauseCount];
  uint8_t *addresses, *failedAddresses;  // a bit per V-memory address
  struct Run {                           // consecutive failed operations
    unsigned long operations;
    bool timed;
    double start, end;
  } run, longest;
};

struct LogSummary {
  PlcStats plc[kPlcNumbers];
  unsigned long operations, unknownWithoutPlc, unknown;
  bool haveTime;
  double first, last;  // the first and last operation's start
};

LogSummary *SummaryCreate();
void SummaryDestroy(LogSummary *s);
// Empties it for another log, keeping the record itself.
void SummaryReset(LogSummary *s);
// An OperationSink: the user pointer is the summary.
void SummaryAdd(const Operation &op, void *summary);
void SummaryPrintText(const LogSummary *s, const LogCounts *c, FILE *out);
// True when the whole document was written.
bool SummaryPrintJson(const LogSummary *s, const LogCounts *c, FILE *out);
// The address ranges of a bit set, "V40000 V40010-V40017": 16 at most, and how many more.
void SummaryPrintRanges(FILE *out, const uint8_t *bits);
// The share of a PLC's operations given up (refused or failed), in percent.
double FailureRate(const PlcStats &p);
// A count's noun: `one` for 1, `more` for any other count.
const char *Plural(unsigned long n, const char *one, const char *more);
// In words, a line that echoed: what the report and the live view say.
void PrintEchoWords(const LogCounts *c, FILE *out);
