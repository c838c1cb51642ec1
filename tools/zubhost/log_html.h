// The analysis of a log as one page to hand over: standalone HTML with no
// scripts, fonts or images from elsewhere. The files and their lines, a
// table per PLC, the causes of failed attempts as bars, the timeline, and
// the addresses that were refused or failed; marks and buckets of the
// timeline tell their details on hover.
#pragma once

#include <stdio.h>

#include "log_summary.h"
#include "log_timeline.h"

void WriteHtml(FILE *out, const LogSummary *s, const LogCounts *c, const Timeline *t, char **inputs,
               int count);
