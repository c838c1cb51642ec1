// The analysis of a log as one page to hand over: standalone HTML, with no
// scripts, fonts or images from elsewhere.
#pragma once

#include "log_summary.h"
#include "log_timeline.h"

// title: the customer's names for the site and line, or null.
void WriteHtml(FILE *out, const LogSummary *s, const LogCounts *c, const Timeline *t, char **inputs,
               int count, const char *title);
