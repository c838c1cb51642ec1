// analyze: turns a host's log of the driver's lines into an answer: per
// PLC, how its operations ended and why attempts failed; as text, as JSON
// for scripts, as a timeline picture and as a page to hand over, or live
// while the log grows. Each input is read once, so a pipe or standard
// input ("-") does as well as a file.
#include <errno.h>

#include <vector>

#include "commands.h"
#include "host_platform.h"
#include "log_follow.h"
#include "log_html.h"
#include "log_reader.h"
#include "output_file.h"
#include "shared_file.h"

namespace {

struct Analysis {
  bool json, follow;
  const char *svg, *html, *title;
  LogSummary *summary;
  Timeline *timeline;  // with --svg or --html only
} analysis;

// clang-format off
const Option kAnalyzeOptions[] = {
  {"--json",   nullptr, kAnyPlatform, Flag(&analysis.json),   "the summary as JSON"},
  {"--svg",    "FILE",  kAnyPlatform, Text(&analysis.svg),    "draw the timeline into FILE"},
  {"--html",   "FILE",  kAnyPlatform, Text(&analysis.html),   "write the analysis as a page into FILE"},
  {"--title",  "TEXT",  kAnyPlatform, Text(&analysis.title),  "the page's heading, such as the site and line"},
  {"--follow", nullptr, kAnyPlatform, Flag(&analysis.follow), "read the log as it grows, until Ctrl-C or the end of a pipe or of standard input"},
};
// clang-format on

void Both(const Operation &op, void *) {
  SummaryAdd(op, analysis.summary);
  if (analysis.timeline) TimelineAdd(op, analysis.timeline);
}

// Feeds every line of one input to the analyzer.
bool FeedInput(LogAnalyzer *a, const char *name) {
  const char *reason = nullptr;
  LogReader *in = ReaderOpen(name, false, &reason);
  if (!in) {
    Mistake("analyze cannot read \"%s\": %s", name, reason);
    return false;
  }
  const char *line = nullptr;
  LogRead got = kLogLine;
  while (got == kLogLine || got == kLogPause) {
    got = ReaderNext(in, &line);
    if (got == kLogLine) AnalyzerLine(a, line);
  }
  bool read = got == kLogEnded;
  if (!read) Mistake("analyze cannot read \"%s\": %s", name, ReaderFailure(in));
  ReaderClose(in);
  return read;
}

// The timeline (no summary) or the page (with it) into the file at path.
int32_t WriteFile(const char *path, const LogCounts *c, char **inputs, int count, bool page) {
  const char *reason = "";
  FILE *out = OpenOutput(path, "wb", &reason);
  if (out) {
    if (page)
      WriteHtml(out, analysis.summary, c, analysis.timeline, inputs, count, analysis.title);
    else
      TimelineWriteSvg(analysis.timeline, c->dated, out);
  }
  // Asked for a file, the user hears only where it went; --json still prints.
  bool written = out && fclose(out) == 0;
  if (written && !analysis.json) printf("the %s is in %s\n", page ? "page" : "timeline", path);
  if (written) return 0;
  if (out) reason = strerror(errno);
  Mistake("analyze cannot write the %s to \"%s\": %s", page ? "page" : "timeline", path, reason);
  return kCannotWrite;
}

// An output that is one of the inputs would lose the log to the picture.
bool NotAnInput(const char *output, char **inputs, int count) {
  FileIdentity out, in;
  if (!output || !IdentifyPath(output, &out)) return true;  // not there yet: no input
  for (int k = 0; k < count; ++k) {
    bool known = false;
    if (strcmp(inputs[k], "-") == 0)
      known = IdentifyFile(stdin, &in);
    else
      known = IdentifyPath(inputs[k], &in);
    if (known && in.volume == out.volume && in.index == out.index) {
      Mistake("analyze will not write over its input \"%s\": name another file for %s", inputs[k],
              output);
      return false;
    }
  }
  return true;
}

int32_t Analyze(char **inputs, int count) {
  LogAnalyzer *a = AnalyzerCreate(Both, nullptr);
  bool read = a != nullptr;
  for (int k = 0; k < count && read; ++k) read = FeedInput(a, inputs[k]);
  if (!read) {
    AnalyzerDestroy(a);
    return kCannotRead;
  }
  AnalyzerEnd(a);
  const LogCounts *counts = AnalyzerCounts(a);
  if (analysis.json)
    SummaryPrintJson(analysis.summary, counts, stdout);
  else if (!analysis.svg && !analysis.html)
    SummaryPrintText(analysis.summary, counts, stdout);
  int32_t result = 0;
  if (analysis.svg) result = WriteFile(analysis.svg, counts, inputs, count, false);
  if (analysis.html && result == 0) result = WriteFile(analysis.html, counts, inputs, count, true);
  AnalyzerDestroy(a);
  return result;
}

// The same file twice: by name, or, when it exists, by identity.
bool SameFile(const char *a, const char *b) {
  FileIdentity x, y;
  if (strcmp(a, b) == 0) return true;
  return IdentifyPath(a, &x) && IdentifyPath(b, &y) && x.volume == y.volume && x.index == y.index;
}

// Options that do nothing where they stand are mistakes, not silence.
bool OptionsAgree() {
  const Analysis &o = analysis;
  const char *unused = nullptr;
  if (o.follow && o.json) unused = "--follow prints as the log grows; it takes no --json";
  if (o.follow && (o.svg || o.html))
    unused = "--follow prints as the log grows; it draws no --svg or --html";
  if (o.title && !o.html) unused = "--title is the heading of the --html page; give --html FILE";
  if (o.svg && o.html && SameFile(o.svg, o.html))
    unused = "--svg and --html would write into one file; name two";
  if (unused) Mistake("analyze %s", unused);
  return !unused;
}

// analyze's options, wherever they stand among its inputs, and its inputs
// closed up in order at the front of args; their number, or -1 for a
// mistake (message printed). Standard input is "-" alone.
int ParseAnalyze(char **args) {
  analysis = Analysis{};
  int argc = 0, count = 0;
  while (args[argc]) ++argc;
  for (int k = 0; k < argc;) {
    if (strncmp(args[k], "--", 2) != 0) {
      args[count] = args[k];
      count += 1;
      k += 1;
      continue;
    }
    int taken = TakeOption(kAnalyzeOptions, sizeof kAnalyzeOptions / sizeof kAnalyzeOptions[0],
                           false, "", argc, args, k);
    if (taken == 0) UnknownOption(args[k]);
    if (taken <= 0) return -1;
    k += taken;
  }
  args[count] = nullptr;
  if (count == 0 || (analysis.follow && count != 1)) {
    Mistake("analyze needs %s",
            analysis.follow ? "one log file to follow" : "one or more log files");
    return -1;
  }
  if (!OptionsAgree() || !NotAnInput(analysis.svg, args, count) ||
      !NotAnInput(analysis.html, args, count))
    return -1;
  return count;
}

}  // namespace

bool CheckAnalyze(char **args) {
  // Read from a copy: the run reads the arguments as given.
  std::vector<char *> copy;
  for (int k = 0; args[k]; ++k) copy.push_back(args[k]);
  copy.push_back(nullptr);
  return ParseAnalyze(copy.data()) >= 0;
}

void PrintAnalyzeOptions(FILE *to) {
  PrintOptions(to, kAnalyzeOptions, sizeof kAnalyzeOptions / sizeof kAnalyzeOptions[0], false,
               kCommandOptionIndent);
}

int32_t AnalyzeCommand(char **args) {
  int count = ParseAnalyze(args);
  if (count < 0) return kUsageError;
  char **inputs = args;
  if (analysis.follow) return FollowLog(inputs[0]);
  analysis.summary = SummaryCreate();
  bool drawn = analysis.svg || analysis.html;
  if (drawn) analysis.timeline = TimelineCreate();
  int32_t result = kCannotRead;  // out of memory
  if (analysis.summary && (!drawn || analysis.timeline)) result = Analyze(inputs, count);
  SummaryDestroy(analysis.summary);
  TimelineDestroy(analysis.timeline);
  return result;
}
