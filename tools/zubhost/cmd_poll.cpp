// poll: reads a list of tags in cycles, as a SCADA host's scan does, with
// live statistics of the line.
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "host_session.h"

namespace {

struct Tag {
  char text[16];
  uint32_t type;
  IoRequest io;
  uint8_t values[8];
};

constexpr int kBadList = -2;  // a mistake in the list itself
constexpr int kRefusedTag = -1;

// "TEXT:TYPE,TEXT:TYPE,...": every tag resolved before the first cycle.
// Returns the number of tags, kBadList or kRefusedTag.
int ParseTags(const char *list, Tag *tags, int capacity) {
  char copy[1024];
  snprintf(copy, sizeof copy, "%s", list);
  int n = 0;
  for (char *p = strtok(copy, ","); p; p = strtok(nullptr, ",")) {
    char *colon = strchr(p, ':');
    if (!colon || n == capacity) {
      fprintf(stderr, "zubhost: poll takes up to %d tags as TEXT:TYPE,... (at \"%s\")\n", capacity,
              p);
      return kBadList;
    }
    *colon = 0;
    Tag &t = tags[n];
    snprintf(t.text, sizeof t.text, "%s", p);
    if (!TypeCode(colon + 1, &t.type)) return kBadList;
    memset(&t.io, 0, sizeof t.io);
    t.io.addressText = t.text;
    t.io.dataType = t.type;
    t.io.count = 1;
    t.io.values = t.values;
    if (ResolveTag(t.text, t.type, false, 1, &t.io.address) != 0) {
      printf("poll %s %s: refused\n", t.text, colon + 1);
      ExplainAddress(t.text, t.type, false, 1);
      return kRefusedTag;
    }
    n++;
  }
  return n;
}

}  // namespace

int32_t PollCommand(char **args) {
  long cycles, intervalMs;
  if (!ParseNumber("poll CYCLES", args[0], 1, 100000000, &cycles) ||
      !ParseNumber("poll MS", args[1], 0, 3600000, &intervalMs))
    return kUsageError;
  Tag tags[16];
  int n = ParseTags(args[2], tags, 16);
  if (n == 0) fprintf(stderr, "zubhost: poll needs one or more tags as TEXT:TYPE,...\n");
  if (n == kRefusedTag) return LUMISAR_REFUSED;
  if (n <= 0) return kUsageError;
  if (!OpenChannel()) return LUMISAR_FAILED;
  unsigned exchanges = 0, retries = 0, failures = 0;
  double last = 0, total = 0;
  int32_t worst = 0;
  for (long c = 0; c < cycles; ++c) {
    printf("cycle %ld:", c + 1);
    for (int k = 0; k < n; ++k) {
      Tag &t = tags[k];
      memset(t.values, 0, sizeof t.values);
      host.enquiriesSeen = 0;
      double start = NowMs();
      int32_t result = Call(LUMISAR_OP_SINGLE_READ, &t.io);
      last = NowMs() - start;
      total += last;
      exchanges++;
      if (host.enquiriesSeen > 1) retries += static_cast<unsigned>(host.enquiriesSeen - 1);
      printf("  %s=", t.text);
      if (result == 0)
        PrintValue(t.type, t.values);
      else
        printf("(%s)", result == 1 ? "refused" : "failed");
      if (result) {
        failures++;
        worst = result > worst ? result : worst;
      }
    }
    printf("\n  exchanges %u  retries %u  failures %u  last %.1f ms  mean %.1f ms\n", exchanges,
           retries, failures, last, exchanges ? total / exchanges : 0.0);
    fflush(stdout);
    if (c + 1 < cycles) SleepMs(static_cast<unsigned>(intervalMs));
  }
  return worst;
}
