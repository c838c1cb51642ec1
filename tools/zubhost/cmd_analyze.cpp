// analyze: turns a host's log of the driver's lines into an answer: per
// PLC, how its operations ended and why attempts failed; as text, as JSON
// for scripts, and as a timeline picture.
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "log_analysis.h"
#include "log_summary.h"
#include "log_timeline.h"

namespace {

// Feeds every line of the files, in order, to one analyzer. Lines longer
// than the buffer are cut; what is cut off is not a line of its own.
bool FeedFiles(char **files, int count, OperationSink sink, void *user, LogCounts *counts) {
  LogAnalyzer *a = AnalyzerCreate(sink, user);
  if (!a) return false;
  static char line[4096];
  bool ok = true;
  for (int f = 0; f < count && ok; ++f) {
    FILE *in = fopen(files[f], "rb");
    if (!in) {
      fprintf(stderr, "zubhost: analyze cannot read \"%s\"\n", files[f]);
      ok = false;
      break;
    }
    bool continuing = false;
    while (fgets(line, sizeof line, in)) {
      size_t n = strlen(line);
      bool whole = n > 0 && line[n - 1] == '\n';
      while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
      if (!continuing) AnalyzerLine(a, line);
      continuing = !whole;
    }
    fclose(in);
  }
  AnalyzerEnd(a);
  if (counts) *counts = *AnalyzerCounts(a);
  AnalyzerDestroy(a);
  return ok;
}

}  // namespace

int32_t AnalyzeCommand(char **args) {
  bool json = false;
  const char *svg = nullptr;
  int k = 0;
  for (; args[k] && strncmp(args[k], "--", 2) == 0; ++k) {
    if (strcmp(args[k], "--json") == 0) {
      json = true;
    } else if (strcmp(args[k], "--svg") == 0 && args[k + 1]) {
      svg = args[++k];
    } else {
      fprintf(stderr,
              "zubhost: analyze takes --json and --svg FILE before the log files (not %s)\n",
              args[k]);
      return kUsageError;
    }
  }
  int files = 0;
  while (args[k + files]) ++files;
  if (!files) {
    fprintf(stderr, "zubhost: analyze needs one or more log files\n");
    return kUsageError;
  }
  LogSummary *summary = SummaryCreate();
  LogCounts counts;
  if (!summary || !FeedFiles(args + k, files, SummaryAdd, summary, &counts)) {
    SummaryDestroy(summary);
    return kUsageError;
  }
  if (json)
    SummaryPrintJson(summary, &counts, stdout);
  else
    SummaryPrintText(summary, &counts, stdout);
  int32_t result = 0;
  if (svg) {
    SummarySpan span;
    SummaryGetSpan(summary, &span);
    Timeline *timeline = TimelineCreate(&span);
    FILE *out = fopen(svg, "wb");
    if (!timeline || !out || !FeedFiles(args + k, files, TimelineAdd, timeline, nullptr)) {
      fprintf(stderr, "zubhost: analyze cannot write the timeline to \"%s\"\n", svg);
      result = kUsageError;
    } else {
      char title[160];
      const char *name = args[k];
      for (const char *p = name; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
      snprintf(title, sizeof title, "%s: %lu operations of %d PLC%s", name, span.operations,
               span.plcCount, span.plcCount == 1 ? "" : "s");
      TimelineWriteSvg(timeline, counts.dated, title, out);
    }
    if (out) fclose(out);
    TimelineDestroy(timeline);
  }
  SummaryDestroy(summary);
  return result;
}
