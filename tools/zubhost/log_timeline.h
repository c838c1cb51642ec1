// The timeline picture of a log: one row per PLC, time across. A row with
// few operations shows each as a mark coloured by its outcome; a row with
// more than fit its width shows stacked bars per time bucket instead. Built
// in the same single pass as the summary, in memory that does not grow
// with the log: per PLC, a fixed set of buckets, and the marks of its first
// operations only.
#pragma once

#include <stdio.h>

#include "log_analysis.h"

struct Timeline;

Timeline *TimelineCreate();
void TimelineDestroy(Timeline *t);
// An OperationSink: the user pointer is the timeline.
void TimelineAdd(const Operation &op, void *timeline);
// The picture as a standalone SVG document (an <svg> element that a page
// can also hold inline). Marks and buckets carry their details as titles,
// which browsers show on hover.
// The picture depends on the log's lines alone, not on where they came from.
void TimelineWriteSvg(const Timeline *t, bool dated, FILE *out);

// Text for an SVG or HTML document, its markup characters escaped.
void WriteEscaped(FILE *out, const char *text);
