// analyze --follow: reads a log as it grows, like tail -F, and survives its
// being truncated or replaced. On a terminal it redraws, about once a
// second, the summary per PLC and the last ten failed or refused
// operations; elsewhere it prints a line for each failed or refused
// operation as it ends, and the summary every minute. Ctrl-C ends it with
// the final summary.
#pragma once

#include <stdint.h>

int32_t FollowLog(const char *path);
