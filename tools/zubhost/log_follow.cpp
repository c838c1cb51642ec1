#include "log_follow.h"

#include <signal.h>
#include <sys/stat.h>

#include "commands.h"
#include "log_summary.h"
#include "log_time.h"

namespace {

constexpr int kRecent = 10;           // failed or refused operations shown
constexpr double kRedrawMs = 1000;    // on a terminal
constexpr double kNewsMs = 250;       // sooner when something failed
constexpr double kSummaryMs = 60000;  // elsewhere
constexpr unsigned kIdleMs = 200;     // between looks at a log that did not grow
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
  char line[4096];  // read so far of a line whose end has not come
  size_t held;
};

// "TIME PLC 02 read V40000: failed (no answer)".
void PrintOperation(const Operation &op, bool dated) {
  char when[40] = "(no time)", why[64] = "";
  if (op.timed) FormatLogTime(op.start, dated, when, sizeof when);
  int cause = MainCause(op);
  if (cause < kCauseCount) snprintf(why, sizeof why, " (%s)", kCauses[cause].text);
  printf("%s  PLC %02X  %-5s V%-6o %s%s\n", when, op.plc, op.write ? "write" : "read",
         (op.wordAddress + 0xFFFFu) & 0xFFFFu, kOutcomes[op.outcome].label, why);
}

void OnOperation(const Operation &op, void *user) {
  Follower *f = static_cast<Follower *>(user);
  SummaryAdd(op, f->summary);
  if (op.plc < 0 || (op.outcome != kFailed && op.outcome != kRefused)) return;
  f->recent[f->failures++ % kRecent] = op;
  f->news = true;
  if (!f->terminal) PrintOperation(op, AnalyzerCounts(f->analyzer)->dated);
}

// One line a PLC: its operations and how they ended.
void PrintTable(const LogSummary *s) {
  printf("PLC  operations");
  for (const auto &o : kOutcomes) printf("  %s", o.key);
  printf("  failure rate\n");
  for (int n = 0; n < 256; ++n) {
    const PlcStats &p = s->plc[n];
    if (!p.operations) continue;
    printf("%02X   %10lu  %10lu  %7lu  %7lu  %6lu  %7lu  %11.2f %%\n", n, p.operations,
           p.outcomes[kFirstTime], p.outcomes[kRetried], p.outcomes[kRefused], p.outcomes[kFailed],
           p.outcomes[kUnknown],
           100.0 * (p.outcomes[kRefused] + p.outcomes[kFailed]) / p.operations);
  }
}

void Redraw(const Follower &f, const char *path) {
  const LogCounts *c = AnalyzerCounts(f.analyzer);
  printf("\x1b[H\x1b[2J%s: %lu lines, %lu operations   (Ctrl-C ends)\n\n", path, c->lines,
         f.summary->operations);
  PrintTable(f.summary);
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
  if (f.terminal) return Redraw(f, path);
  printf("\n-- %s: %lu operations so far\n", path, f.summary->operations);
  PrintTable(f.summary);
  fflush(stdout);
}

// True when the file at path is no longer the one open (replaced), or is
// shorter than what was read of it (truncated): read it again from the top.
bool Rotated(FILE *in, const char *path) {
  struct stat now, open;
  if (stat(path, &now) != 0 || fstat(fileno(in), &open) != 0) return false;
  return now.st_ino != open.st_ino || now.st_dev != open.st_dev ||
         static_cast<long>(now.st_size) < ftell(in);
}

// Hands on what the log holds past where it was read; a line only once its
// end has come, since the host may be writing it.
void ReadNew(Follower &f, FILE *in) {
  char *line = f.line;
  while (fgets(line + f.held, static_cast<int>(sizeof f.line - f.held), in)) {
    size_t n = f.held + strlen(line + f.held);
    f.held = n;
    if (n + 1 < sizeof f.line && (n == 0 || line[n - 1] != '\n')) continue;
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    AnalyzerLine(f.analyzer, line);
    f.held = 0;
  }
  clearerr(in);
}

// Reads on until Ctrl-C; *in is the file open at the end.
void Follow(Follower &f, FILE **in, const char *path) {
  signal(SIGINT, OnInterrupt);
  signal(SIGTERM, OnInterrupt);
  while (!stopping) {
    ReadNew(f, *in);
    Show(f, path);
    FILE *again = Rotated(*in, path) ? fopen(path, "rb") : nullptr;
    if (again) {
      // What was under way in the old file ended there.
      AnalyzerEnd(f.analyzer);
      fclose(*in);
      *in = again;
      f.held = 0;
    }
    SleepMs(kIdleMs);
  }
  ReadNew(f, *in);
  AnalyzerEnd(f.analyzer);
}

}  // namespace

int32_t FollowLog(const char *path) {
  static Follower f;
  f = Follower{SummaryCreate(), nullptr, OutputToTerminal()};
  f.analyzer = AnalyzerCreate(OnOperation, &f);
  FILE *in = f.summary && f.analyzer ? fopen(path, "rb") : nullptr;
  if (in) {
    Follow(f, &in, path);
    fclose(in);
    printf("\n");
    SummaryPrintText(f.summary, AnalyzerCounts(f.analyzer), stdout);
  } else {
    Mistake("analyze cannot read \"%s\"", path);
  }
  AnalyzerDestroy(f.analyzer);
  SummaryDestroy(f.summary);
  return in ? 0 : kCannotRead;
}
