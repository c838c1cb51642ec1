// The timeline picture of a log: one row per PLC, time across, a mark per
// operation coloured by its outcome, or stacked bars per time bucket for a
// row with more operations than fit. Built in the summary's single pass, in
// memory that does not grow with the log.
#pragma once

#include <stdio.h>

#include "log_analysis.h"

struct Timeline;

Timeline *TimelineCreate();
void TimelineDestroy(Timeline *t);
// An OperationSink: the user pointer is the timeline.
void TimelineAdd(const Operation &op, void *timeline);
// The picture as a standalone SVG document, which a page can also hold
// inline; marks and bars carry their details as titles, shown on hover.
void TimelineWriteSvg(const Timeline *t, bool dated, FILE *out);

// Text for an SVG or HTML document, its markup characters escaped, as
// valid UTF-8 without control characters (clean_text.h).
void WriteEscaped(FILE *out, const char *text);
