// poll: reads a list of tags in cycles, as a SCADA host's scan does, with
// live statistics of the line. The retries are counted by the log analyser
// from the driver's own lines, as they go by.
#include "commands.h"
#include "log_analysis.h"

namespace {

constexpr int kMostTags = 16;

struct Tag {
  char text[16];
  uint32_t type;
  IoRequest io;
  uint8_t values[8];
};

struct Statistics {
  unsigned exchanges, retries, failures;
  double last, total;
  int32_t worst;
};

void CountRetries(const Operation &op, void *statistics) {
  if (op.attempts > 1) static_cast<Statistics *>(statistics)->retries += op.attempts - 1;
}

// One "TEXT:TYPE" of the list, resolved; 0, or kUsageError or the driver's
// refusal (message printed).
int32_t ParseTag(char *item, Tag *t) {
  char *colon = strchr(item, ':');
  *colon = 0;
  if (!TypeCode(colon + 1, &t->type)) return kUsageError;
  // A text too long for the tag's place is refused as written, not cut.
  bool fits = strlen(item) < sizeof t->text;
  if (fits) snprintf(t->text, sizeof t->text, "%s", item);
  if (fits && PrepareIo(&t->io, t->text, t->type, false, 1, t->values) == LUMISAR_DONE)
    return LUMISAR_DONE;
  printf("poll %s %s: refused\n", item, colon + 1);
  ExplainAddress(item, t->type, false, 1);
  return LUMISAR_REFUSED;
}

// "TEXT:TYPE,TEXT:TYPE,...": every tag resolved before the first cycle
// when tags is given, or only read as written when it is null. The number
// of tags, or the command's result when the list will not do.
int32_t ParseTags(const char *list, Tag *tags, int *n) {
  int32_t result = LUMISAR_DONE;
  bool taken = EachListItem("poll", "0140000:word,0140002L:long", list, [&](const char *item) {
    char copy[256];
    snprintf(copy, sizeof copy, "%s", item);
    char *colon = strchr(copy, ':');
    uint32_t type;
    if (!colon || *n == kMostTags) {
      Mistake("poll takes up to %d tags as TEXT:TYPE,... (at \"%s\")", kMostTags, item);
      return false;
    }
    if (!tags) {
      ++*n;
      return TypeCode(colon + 1, &type);
    }
    result = ParseTag(copy, &tags[*n]);
    *n += 1;
    return result == LUMISAR_DONE;
  });
  if (!taken && result == LUMISAR_DONE) return kUsageError;
  return result;
}

bool ParseCycles(char **args, long *cycles, long *intervalMs) {
  return ParseWhole("poll CYCLES", args[0], 1, 100000000, cycles) &&
         ParseWhole("poll MS", args[1], 0, 3600000, intervalMs);
}

void ReadTag(Tag &t, Statistics &s) {
  memset(t.values, 0, sizeof t.values);
  double start = NowMs();
  int32_t result = Call(LUMISAR_OP_SINGLE_READ, &t.io);
  // The exchange is over: the analyser need not wait for the next line to
  // know how it ended.
  AnalyzerEnd(host.analyzer);
  s.last = NowMs() - start;
  s.total += s.last;
  s.exchanges++;
  printf("  %s=", t.text);
  if (result == LUMISAR_DONE) {
    PrintValue(t.type, t.values);
    return;
  }
  printf("(%s)", result == LUMISAR_REFUSED ? "refused" : "failed");
  s.failures++;
  if (result > s.worst) s.worst = result;
}

}  // namespace

int32_t PollCommand(char **args) {
  long cycles, intervalMs;
  if (!ParseCycles(args, &cycles, &intervalMs)) return kUsageError;
  Tag tags[kMostTags];
  int n = 0;
  int32_t parsed = ParseTags(args[2], tags, &n);
  if (parsed != LUMISAR_DONE) return parsed;
  if (!OpenChannel()) return LUMISAR_FAILED;
  Statistics s = {};
  host.analyzer = AnalyzerCreate(CountRetries, &s);
  for (long c = 0; c < cycles; ++c) {
    printf("cycle %ld:", c + 1);
    for (int k = 0; k < n; ++k) ReadTag(tags[k], s);
    printf("\n  exchanges %u  retries %u  failures %u  last %.1f ms  mean %.1f ms\n", s.exchanges,
           s.retries, s.failures, s.last, s.exchanges ? s.total / s.exchanges : 0.0);
    // Output that cannot be written ends the polling; zubhost names it.
    fflush(stdout);
    if (ferror(stdout)) break;
    if (c + 1 < cycles) SleepMs(static_cast<unsigned>(intervalMs));
  }
  AnalyzerDestroy(host.analyzer);
  host.analyzer = nullptr;
  return s.worst;
}

bool CheckPoll(char **args) {
  long cycles, intervalMs;
  int n = 0;
  return ParseCycles(args, &cycles, &intervalMs) && ParseTags(args[2], nullptr, &n) == LUMISAR_DONE;
}
