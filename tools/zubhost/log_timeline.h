// The timeline picture of a log: one row per PLC, time across, each
// operation a mark coloured by its outcome. Built in a second pass over the
// log, once the first has told the time span and the PLCs.
#pragma once

#include <stdio.h>

#include "log_analysis.h"
#include "log_summary.h"

struct Timeline;

Timeline *TimelineCreate(const SummarySpan *span);
void TimelineDestroy(Timeline *t);
// An OperationSink: the user pointer is the timeline.
void TimelineAdd(const Operation &op, void *timeline);
void TimelineWriteSvg(const Timeline *t, bool dated, const char *title, FILE *out);
