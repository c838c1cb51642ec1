// analyze: turns a host's log of the driver's lines into an answer: per
// PLC, how its operations ended and why attempts failed; as text, as JSON
// for scripts, and as a timeline picture. Each input is read once, so a
// pipe or standard input ("-") does as well as a file.
#include <stdio.h>
#include <string.h>

#include "command_line.h"
#include "commands.h"
#include "log_analysis.h"
#include "log_summary.h"
#include "log_timeline.h"

namespace {

struct Analysis {
  bool json;
  const char *svg;
  LogSummary *summary;
  Timeline *timeline;  // with --svg only
};

bool Json(void *a, const char *) { return static_cast<Analysis *>(a)->json = true; }
bool Svg(void *a, const char *file) {
  static_cast<Analysis *>(a)->svg = file;
  return true;
}

// clang-format off
const Option kAnalyzeOptions[] = {
  {"--json", nullptr, kAnyPlatform, Json, "the summary as JSON"},
  {"--svg",  "FILE",  kAnyPlatform, Svg,  "draw the timeline into FILE"},
};
// clang-format on

void Both(const Operation &op, void *user) {
  Analysis *a = static_cast<Analysis *>(user);
  SummaryAdd(op, a->summary);
  if (a->timeline) TimelineAdd(op, a->timeline);
}

// Feeds every line of one input to the analyzer. Lines longer than the
// buffer are cut; what is cut off is not a line of its own.
bool FeedInput(LogAnalyzer *a, const char *name) {
  bool standardInput = strcmp(name, "-") == 0;
  FILE *in = standardInput ? stdin : fopen(name, "rb");
  static char line[4096];
  bool continuing = false;
  while (in && fgets(line, sizeof line, in)) {
    size_t n = strlen(line);
    bool whole = n > 0 && line[n - 1] == '\n';
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    if (!continuing) AnalyzerLine(a, line);
    continuing = !whole;
  }
  bool ok = in && !ferror(in);
  if (in && !standardInput) fclose(in);
  if (!ok) fprintf(stderr, "zubhost: analyze cannot read \"%s\"\n", name);
  return ok;
}

int32_t WriteTimeline(const Timeline *timeline, bool dated, const char *svg) {
  FILE *out = fopen(svg, "wb");
  if (out) TimelineWriteSvg(timeline, dated, out);
  if (out && fclose(out) == 0) return 0;
  fprintf(stderr, "zubhost: analyze cannot write the timeline to \"%s\"\n", svg);
  return kCannotWrite;
}

int32_t Analyze(Analysis *x, char **inputs, int count) {
  LogAnalyzer *a = AnalyzerCreate(Both, x);
  bool read = a != nullptr;
  for (int k = 0; k < count && read; ++k) read = FeedInput(a, inputs[k]);
  if (!read) {
    AnalyzerDestroy(a);
    return kCannotRead;
  }
  AnalyzerEnd(a);
  const LogCounts *counts = AnalyzerCounts(a);
  if (x->json)
    SummaryPrintJson(x->summary, counts, stdout);
  else
    SummaryPrintText(x->summary, counts, stdout);
  int32_t result = x->svg ? WriteTimeline(x->timeline, counts->dated, x->svg) : 0;
  AnalyzerDestroy(a);
  return result;
}

}  // namespace

int32_t AnalyzeCommand(char **args) {
  int argc = 0, first = 0;
  while (args[argc]) ++argc;
  Analysis x = {};
  if (!ParseOptions(kAnalyzeOptions, sizeof kAnalyzeOptions / sizeof kAnalyzeOptions[0], false, "",
                    argc, args, &first, &x))
    return kUsageError;
  if (first == argc) {
    fprintf(stderr, "zubhost: analyze needs one or more log files\n");
    return kUsageError;
  }
  x.summary = SummaryCreate();
  if (x.svg) x.timeline = TimelineCreate();
  int32_t result =
      x.summary && (!x.svg || x.timeline) ? Analyze(&x, args + first, argc - first) : kCannotRead;
  SummaryDestroy(x.summary);
  TimelineDestroy(x.timeline);
  return result;
}
