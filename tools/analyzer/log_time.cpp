#include "log_time.h"

#include <stdio.h>

namespace {

int Digits(const char *p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// Days since 1970-01-01 of a civil date.
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// HH:MM:SS[.fff] at p: milliseconds of the day, or -1.
double TimeOfDay(const char *p) {
  int h = Digits(p, 2), m = Digits(p + 3, 2), s = Digits(p + 6, 2);
  if (h < 0 || m < 0 || s < 0 || p[2] != ':' || p[5] != ':' || h > 23 || m > 59 || s > 60)
    return -1;
  double ms = ((h * 60.0 + m) * 60.0 + s) * 1000.0;
  p += 8;
  if (*p == '.' || *p == ',') {
    double scale = 100.0;
    for (++p; *p >= '0' && *p <= '9'; ++p, scale /= 10) ms += (*p - '0') * scale;
  }
  return ms;
}

// YYYY-MM-DD[T ]HH:MM:SS at p, when the 19 characters fit before limit.
double DateAndTime(const char *p, const char *limit) {
  if (p + 19 > limit || p[4] != '-' || p[7] != '-' || (p[10] != 'T' && p[10] != ' ')) return -1;
  int y = Digits(p, 4), mo = Digits(p + 5, 2), d = Digits(p + 8, 2);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31) return -1;
  double t = TimeOfDay(p + 11);
  return t < 0 ? -1 : static_cast<double>(DaysFromCivil(y, mo, d)) * kDayMs + t;
}

// The civil date of a day counted from 1970-01-01.
void CivilFromDays(long long days, long long *y, int *m, int *d) {
  long long z = days + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

}  // namespace

bool FindLogTime(const char *p, const char *limit, double *ms, bool *dated) {
  for (; p + 8 <= limit; ++p) {
    double t = DateAndTime(p, limit);
    *dated = t >= 0;
    if (t < 0 && p[0] >= '0' && p[0] <= '9') t = TimeOfDay(p);
    if (t >= 0) {
      *ms = t;
      return true;
    }
  }
  return false;
}

void FormatLogTime(double ms, bool dated, char *out, int size) {
  long long total = static_cast<long long>(ms);
  int inDay = static_cast<int>(total % kDayMs);
  int h = inDay / 3600000, m = inDay / 60000 % 60, s = inDay / 1000 % 60, f = inDay % 1000;
  if (!dated) {
    snprintf(out, static_cast<size_t>(size), "%02d:%02d:%02d.%03d", h, m, s, f);
    return;
  }
  long long y;
  int mo, d;
  CivilFromDays(total / kDayMs, &y, &mo, &d);
  snprintf(out, static_cast<size_t>(size), "%04lld-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, m,
           s, f);
}
