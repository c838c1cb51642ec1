#include "log_recent.h"

#include <math.h>

void RecentReset(RecentView *v) {
  *v = RecentView{};
  for (PlcRecent &p : v->plc)
    for (double &s : p.second) s = -1;
}

void RecentAdd(RecentView *v, const Operation &op, double clockMs) {
  if (!PlcKnown(op)) return;
  double t = op.timed ? op.end : clockMs;
  if (!v->started || t > v->now) v->now = t;
  v->started = true;
  PlcRecent &p = v->plc[op.plc];
  double second = floor(t / 1000);
  int slot = static_cast<int>(fmod(second, kRecentSeconds));
  if (slot < 0) slot += kRecentSeconds;
  if (p.second[slot] != second) {
    p.second[slot] = second;
    p.operations[slot] = 0;
    p.bad[slot] = 0;
  }
  bool bad = GivenUp(op.outcome);
  p.operations[slot] += 1;
  if (bad) p.bad[slot] += 1;
  // An operation whose end the log does not show neither starts nor ends a failing spell.
  if (op.outcome == kUnknown) return;
  if (bad && !p.failing) p.failingSince = op.timed ? op.start : clockMs;
  p.failing = bad;
  if (!bad) p.lastGood = t;
  p.good = p.good || !bad;
}

bool RecentRate(const RecentView *v, int plc, double *percent) {
  const PlcRecent &p = v->plc[plc];
  double newest = floor(v->now / 1000);
  unsigned operations = 0, bad = 0;
  for (int k = 0; k < kRecentSeconds; ++k) {
    if (p.second[k] < 0 || p.second[k] <= newest - kRecentSeconds) continue;
    operations += p.operations[k];
    bad += p.bad[k];
  }
  if (operations) *percent = 100.0 * bad / operations;
  return operations > 0;
}
