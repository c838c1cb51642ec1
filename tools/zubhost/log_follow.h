// analyze --follow: reads a log as it grows, like tail -F, through
// truncation and replacement. A terminal is redrawn about once a second;
// elsewhere each failure gets a line and the summary comes every minute.
// An operation that failed at the log's end is shown once the log has been
// quiet for a second. Ctrl-C, or the end of standard input or of a pipe,
// ends it with the final summary.
#pragma once

#include <stdint.h>

int32_t FollowLog(const char *path);
