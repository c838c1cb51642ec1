#include "log_follow.h"

#include <signal.h>
#include <stdlib.h>

#include "commands.h"
#include "log_reader.h"
#include "log_recent.h"
#include "log_summary.h"
#include "log_time.h"
#include "trace_line.h"

namespace {

constexpr int kRecent = 10;           // failed or refused operations shown
constexpr double kRedrawMs = 1000;    // on a terminal
constexpr double kNewsMs = 250;       // sooner when something failed
constexpr double kSummaryMs = 60000;  // elsewhere
constexpr unsigned kIdleMs = 200;     // between looks at a log that did not grow
constexpr double kReadingMs = 100;    // of a log that keeps coming, before the screen's turn
// Once its reply has come, the driver writes an attempt's next line at
// once, or within a quiet wait of some milliseconds: a log silent for this
// long after a last attempt failed has seen its operation end.
constexpr double kQuietMs = 1000;
volatile sig_atomic_t stopping;

void OnInterrupt(int) { stopping = 1; }

struct Follower {
  LogSummary *summary;
  LogAnalyzer *analyzer;
  bool terminal;
  Operation recent[kRecent];  // the last failed or refused, in a ring
  unsigned long failures;
  bool news;  // a failed or refused operation since the last redraw
  double lastShown;
  double lastLine;  // when a line was last read
  RecentView live;
};

// "TIME  PLC 02  read  V40000  failed (bad check byte: 4, another station answered: 2)".
void PrintOperation(const Operation &op, bool dated) {
  char when[40] = "(no time)";
  if (op.timed) FormatLogTime(op.start, dated, when, sizeof when);
  printf("%s  PLC %02X  %-5s V%-6o %s", when, op.plc, op.write ? "write" : "read",
         VMemoryAddress(op.wordAddress), kOutcomes[op.outcome].label);
  bool listed = false;  // a cause printed, so the list is open
  for (int c = 0; c < kCauseCount; ++c) {
    if (!op.causes[c]) continue;
    printf("%s%s: %d", listed ? ", " : " (", kCauses[c].text, op.causes[c]);
    listed = true;
  }
  if (listed) printf(")");
  printf("\n");
}

void OnOperation(const Operation &op, void *user) {
  Follower *f = static_cast<Follower *>(user);
  SummaryAdd(op, f->summary);
  RecentAdd(&f->live, op, NowMs());
  if (!PlcKnown(op) || !GivenUp(op.outcome)) return;
  f->recent[f->failures % kRecent] = op;
  f->failures += 1;
  f->news = true;
  if (f->terminal) return;
  PrintOperation(op, AnalyzerCounts(f->analyzer)->dated);
  fflush(stdout);
}

// A time of day on the screen, or "-".
void ShowTime(bool known, double ms, char *out, int size) {
  if (known)
    FormatLogTime(ms, false, out, size);
  else
    snprintf(out, static_cast<size_t>(size), "-");
}

// One line a PLC: its operations and how they ended, and how it is doing now.
void PrintTable(const Follower &f) {
  printf("PLC  operations");
  for (const auto &o : kOutcomes) printf("  %s", o.key);
  printf("  failure rate  last minute  failing since  last good\n");
  for (int n = 0; n < kPlcNumbers; ++n) {
    const PlcStats &p = f.summary->plc[n];
    const PlcRecent &r = f.live.plc[n];
    if (!p.operations) continue;
    char minute[16] = "-", since[40], good[40];
    double rate = 0;
    if (RecentRate(&f.live, n, &rate)) snprintf(minute, sizeof minute, "%.2f%%", rate);
    ShowTime(r.failing, r.failingSince, since, sizeof since);
    ShowTime(r.good, r.lastGood, good, sizeof good);
    printf("%02X   %10lu  %10lu  %7lu  %7lu  %6lu  %7lu  %10.2f %%  %11s  %13s  %12s\n", n,
           p.operations, p.outcomes[kFirstTime], p.outcomes[kRetried], p.outcomes[kRefused],
           p.outcomes[kFailed], p.outcomes[kUnknown], FailureRate(p), minute, since, good);
  }
}

void Redraw(const Follower &f, const char *path) {
  const LogCounts *c = AnalyzerCounts(f.analyzer);
  printf("\x1b[H\x1b[2J%s: %lu lines, %lu operations   (Ctrl-C ends)\n\n", path, c->lines,
         f.summary->operations);
  if (c->echoed) {
    PrintEchoWords(c, stdout);
    printf("\n\n");
  }
  PrintTable(f);
  printf("\nthe last failed or refused operations:\n");
  for (unsigned long k = f.failures > kRecent ? f.failures - kRecent : 0; k < f.failures; ++k)
    PrintOperation(f.recent[k % kRecent], c->dated);
  fflush(stdout);
}

// The screen redrawn, or elsewhere the summary, when it is due.
void Show(Follower &f, const char *path) {
  double now = NowMs(), since = now - f.lastShown;
  bool due = f.terminal ? since >= kRedrawMs || (f.news && since >= kNewsMs) : since >= kSummaryMs;
  if (!due) return;
  f.lastShown = now;
  f.news = false;
  if (f.terminal) {
    Redraw(f, path);
    return;
  }
  printf("\n-- %s: %lu %s so far\n", path, f.summary->operations,
         Plural(f.summary->operations, "operation", "operations"));
  const LogCounts *c = AnalyzerCounts(f.analyzer);
  if (c->echoed) {
    PrintEchoWords(c, stdout);
    printf("\n");
  }
  PrintTable(f);
  fflush(stdout);
}

// Hands on what the log holds past where it was read, for a while at most,
// so that a log that never pauses still leaves time for the screen and for
// Ctrl-C. kLogLine when there is more to read at once.
LogRead ReadNew(Follower &f, LogReader *in) {
  double began = NowMs();
  const char *line = nullptr;
  LogRead got = kLogLine;
  while (!stopping && got == kLogLine && NowMs() - began < kReadingMs) {
    got = ReaderNext(in, &line);
    if (got != kLogLine) continue;
    AnalyzerLine(f.analyzer, line);
    f.lastLine = NowMs();
  }
  return got;
}

// Reads on until Ctrl-C, or the end of a pipe; false when the input failed.
bool Follow(Follower &f, LogReader *in, const char *path) {
  CatchStop(OnInterrupt);
  LogRead got = kLogPause;
  while (!stopping && (got == kLogPause || got == kLogLine)) {
    got = ReadNew(f, in);
    if (got == kLogPause && NowMs() - f.lastLine >= kQuietMs) AnalyzerQuiet(f.analyzer);
    Show(f, path);
    if (got != kLogPause || stopping) continue;
    SleepMs(kIdleMs);
    // Looked at just before reading on, so that a log rewritten meanwhile
    // is read from its top. What was under way in the old file ended there.
    if (ReaderStartedAgain(in)) AnalyzerEnd(f.analyzer);
  }
  // Once stopped, no more is read: an input that never pauses would not let it end.
  const char *rest = nullptr;
  if (ReaderRest(in, &rest)) AnalyzerLine(f.analyzer, rest);
  AnalyzerEnd(f.analyzer);
  if (!f.terminal) {
    printf("\n-- %s: %lu %s in all\n", path, f.summary->operations,
           Plural(f.summary->operations, "operation", "operations"));
    PrintTable(f);
  }
  return got != kLogFailure;
}

}  // namespace

int32_t FollowLog(const char *path) {
  // The live view holds a minute of every PLC: too much for a stack, and
  // no call's state is kept for the next.
  Follower *follower = static_cast<Follower *>(calloc(1, sizeof(Follower)));
  if (!follower) {
    Mistake("analyze cannot read \"%s\": out of memory", path);
    return kCannotRead;
  }
  Follower &f = *follower;
  f.summary = SummaryCreate();
  f.terminal = OutputToTerminal();
  RecentReset(&f.live);
  f.analyzer = AnalyzerCreate(OnOperation, &f);
  const char *reason = "out of memory";
  LogReader *in = f.summary && f.analyzer ? ReaderOpen(path, true, &reason) : nullptr;
  bool read = in != nullptr;
  if (in) {
    read = Follow(f, in, path);
    printf("\n");
    SummaryPrintText(f.summary, AnalyzerCounts(f.analyzer), stdout);
    // What was read is summed up all the same; the exit code says it was not all.
    if (!read) Mistake("analyze stopped reading \"%s\": %s", path, ReaderFailure(in));
    ReaderClose(in);
  } else {
    Mistake("analyze cannot read \"%s\": %s", path, reason);
  }
  AnalyzerDestroy(f.analyzer);
  SummaryDestroy(f.summary);
  free(follower);
  return read ? 0 : kCannotRead;
}
