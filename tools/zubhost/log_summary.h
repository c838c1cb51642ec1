// The per-PLC summary of a log's operations, as text or as one JSON
// document with fixed keys.
#pragma once

#include <stdio.h>

#include "log_analysis.h"

struct LogSummary;

LogSummary *SummaryCreate();
void SummaryDestroy(LogSummary *s);
// Empties it for another log, keeping the record itself.
void SummaryReset(LogSummary *s);
// An OperationSink: the user pointer is the summary.
void SummaryAdd(const Operation &op, void *summary);
void SummaryPrintText(const LogSummary *s, const LogCounts *c, FILE *out);
void SummaryPrintJson(const LogSummary *s, const LogCounts *c, FILE *out);
