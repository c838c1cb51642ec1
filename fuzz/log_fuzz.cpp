// Fuzzes zubhost's log analyser with any bytes as a log. Every operation it
// rebuilds must be one the driver could have done: at most six attempts, a
// cause for each failed one, an outcome that fits the attempts; and the
// summary, text and JSON, must print from whatever came in.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "log_analysis.h"
#include "log_summary.h"

namespace {

void Check(const Operation &op, void *summary) {
  int failedAttempts = 0;
  for (int c = 0; c < kCauseCount; ++c) failedAttempts += op.causes[c];
  bool ok = op.attempts >= 0 && op.attempts <= 6 && op.plc >= -1 && op.plc <= 255;
  switch (op.outcome) {
    case kFirstTime:
      ok = ok && op.attempts == 1 && failedAttempts == 0;
      break;
    case kRetried:
      ok = ok && op.attempts >= 2 && failedAttempts == op.attempts - 1;
      break;
    case kRefused:
      ok = ok && op.attempts >= 5 && failedAttempts == op.attempts;
      break;
    case kFailed:
      ok = ok && op.attempts == 6 && failedAttempts == 6;
      break;
    case kUnknown:
      ok = ok && failedAttempts <= op.attempts;
      break;
    default:
      ok = false;
  }
  if (!ok) abort();
  SummaryAdd(op, summary);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // One summary for every input: a fresh 40 KB record each time only
  // churns the sanitizer's quarantine.
  static LogSummary *summary = SummaryCreate();
  SummaryReset(summary);
  LogAnalyzer *a = AnalyzerCreate(Check, summary);
  char line[512];
  size_t n = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      line[n] = 0;
      AnalyzerLine(a, line);
      n = 0;
    } else if (n + 1 < sizeof line) {
      // A NUL inside a line ends the text the analyser sees, as in a file.
      line[n++] = static_cast<char>(data[i]);
    }
  }
  AnalyzerEnd(a);
  static FILE *sink = fopen("/dev/null", "w");
  SummaryPrintText(summary, AnalyzerCounts(a), sink);
  SummaryPrintJson(summary, AnalyzerCounts(a), sink);
  AnalyzerDestroy(a);
  return 0;
}
