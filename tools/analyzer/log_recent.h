// What a live view tells of each PLC now, beside its counts since the log
// began: the share of its operations that were refused or failed over the
// last minute, since when it has done nothing but fail, and when it last got
// an operation done. A dead controller then reads as dead at once, where the
// rate over the whole log only creeps up.
#pragma once

#include "log_analysis.h"

constexpr int kRecentSeconds = 60;

struct PlcRecent {
  double second[kRecentSeconds];  // which second of the log's time a slot counts; -1 none
  unsigned operations[kRecentSeconds], bad[kRecentSeconds];
  bool failing, good;
  double failingSince, lastGood;  // the log's milliseconds (see log_time.h)
};

struct RecentView {
  PlcRecent plc[kPlcNumbers];
  bool started;
  double now;  // the latest time seen: the log's, or the clock's for a log without times
};

void RecentReset(RecentView *v);
void RecentAdd(RecentView *v, const Operation &op, double clockMs);
// Refused and failed as a percentage of the operations in the last minute;
// false when it had none.
bool RecentRate(const RecentView *v, int plc, double *percent);
