// The time stamps hosts put before the driver's lines: an ISO 8601 date and
// time (with 'T' or a blank, milliseconds after '.' or ','), or a time of
// day alone. Times are milliseconds: since 1970-01-01 for dated stamps, of
// the day for the others.
#pragma once

constexpr long long kDayMs = 86400000;  // milliseconds in a day

// The first time stamp in [p, limit); false when there is none.
bool FindLogTime(const char *p, const char *limit, double *ms, bool *dated);

// A time as the log wrote it: a date and time, or a time of day.
void FormatLogTime(double ms, bool dated, char *out, int size);
