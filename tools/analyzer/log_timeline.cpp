#include "log_timeline.h"

#include <stdlib.h>
#include <string.h>

#include "clean_text.h"
#include "log_time.h"
#include "trace_line.h"

namespace {

constexpr int kWidth = 900;       // pixels of the time axis
constexpr int kBuckets = 900;     // kept per row, over the whole log
constexpr int kBarColumns = 300;  // drawn per row as stacked bars, 3 pixels each
constexpr int kLeft = 70, kTop = 56, kRow = 40, kBottom = 44, kRight = 20;
constexpr int kBandHeight = 6;  // marks: one band of the row for each outcome
constexpr int kBarHeight = kRow - 10;

// clang-format off
// Marks: bands from the top of a row, failures first, where the eye starts.
// Bars: stacked from the bottom in the opposite order. The colours differ
// in lightness as well as hue (grey levels about 60, 150, 185, 215, 105), so
// that they part in greyscale and for readers who do not tell red from green.
const struct { Outcome outcome; const char *css; const char *colour; } kBands[] = {
  {kFailed,    "fa", "#a50f15"},
  {kRefused,   "re", "#cc79a7"},
  {kUnknown,   "un", "#bbbbbb"},
  {kRetried,   "rt", "#f0e442"},
  {kFirstTime, "ok", "#009e73"},
};
// clang-format on
constexpr int kBandCount = sizeof kBands / sizeof kBands[0];
static_assert(kBandCount == kOutcomeCount, "a band for every outcome");

// An operation's own mark, with what its title tells.
struct Mark {
  double start;    // milliseconds, or
  uint32_t index;  // its number among the log's operations
  uint32_t wordAddress;
  int bytes, outcome, attempts, cause;
  bool write;
};

// Time across, or the operations' numbers for a log without time stamps.
// Bucket b holds [origin + b * width, origin + (b + 1) * width); the width
// doubles whenever the log runs past the last bucket.
enum { kTimeAxis, kIndexAxis, kAxes };
struct Axis {
  bool started;
  double origin, width, first, last;
};

struct Row {
  unsigned long operations;
  Mark marks[kWidth];  // its first operations, while they fit the width
  uint32_t counts[kAxes][kBuckets][kOutcomeCount];
};

int BandOf(int outcome) {
  for (int b = 0; b < kBandCount; ++b)
    if (kBands[b].outcome == outcome) return b;
  return 0;
}

}  // namespace

struct Timeline {
  Row *rows[kPlcNumbers];
  Axis axes[kAxes];
  uint32_t operations;  // all of the log's, for the numbers
  bool untimed;         // an operation with a PLC had no time stamp
};

namespace {

void Widen(Timeline *t, int axis) {
  for (Row *r : t->rows) {
    if (!r) continue;
    uint32_t(*c)[kOutcomeCount] = r->counts[axis];
    for (int b = 0; b < kBuckets; ++b)
      for (int o = 0; o < kOutcomeCount; ++o)
        c[b][o] = b < kBuckets / 2 ? c[2 * b][o] + c[2 * b + 1][o] : 0;
  }
  t->axes[axis].width *= 2;
}

void Count(Timeline *t, Row *r, int axis, double x, int outcome) {
  Axis &a = t->axes[axis];
  if (!a.started) a = Axis{true, x, 1.0, x, x};
  if (x < a.first) a.first = x;
  if (x > a.last) a.last = x;
  while (x >= a.origin + kBuckets * a.width) Widen(t, axis);
  // A time before the first (lines out of order) counts in the first bucket.
  int b = x < a.origin ? 0 : static_cast<int>((x - a.origin) / a.width);
  r->counts[axis][b][outcome]++;
}

struct Drawing {
  const Timeline *t;
  FILE *out;
  int axis;
  double first, last;
  bool dated;
};

int X(const Drawing &d, double x) {
  double f = d.last > d.first ? (x - d.first) / (d.last - d.first) : 0;
  return kLeft + static_cast<int>((f < 0 ? 0 : f > 1 ? 1 : f) * (kWidth - 2));
}

// A place on the axis as a person reads it.
void Label(const Drawing &d, double x, bool withDate, char *out, int size) {
  if (d.axis == kTimeAxis)
    FormatLogTime(x, d.dated && withDate, out, size);
  else
    snprintf(out, static_cast<size_t>(size), "operation %lu", static_cast<unsigned long>(x) + 1);
}

void WriteHead(const Drawing &d, int rows) {
  int width = kLeft + kWidth + kRight, height = kTop + rows * kRow + kBottom;
  fprintf(d.out,
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
          "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n<style>",
          width, height, width, height);
  for (const auto &band : kBands) fprintf(d.out, ".%s{fill:%s}", band.css, band.colour);
  fprintf(d.out, ".line{fill:#a50f15;fill-opacity:.35}</style>\n");
  fprintf(d.out, "<rect width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n", width, height);
  fprintf(d.out,
          "<text x=\"%d\" y=\"18\" font-size=\"14\" font-weight=\"bold\">%u operation%s of %d "
          "PLC%s</text>\n",
          kLeft, d.t->operations, d.t->operations == 1 ? "" : "s", rows, rows == 1 ? "" : "s");
  int x = kLeft;
  for (const auto &band : kBands) {
    fprintf(d.out, "<rect x=\"%d\" y=\"28\" width=\"10\" height=\"10\" class=\"%s\"/>", x,
            band.css);
    const char *label = kOutcomes[band.outcome].label;
    fprintf(d.out, "<text x=\"%d\" y=\"37\">%s</text>\n", x + 14, label);
    x += 14 + 7 * static_cast<int>(strlen(label)) + 18;
  }
}

// A mark's words for its outcome, with the attempts it took.
void OutcomeWords(FILE *out, const Mark &m) {
  const char *s = m.attempts == 1 ? "" : "s";
  switch (m.outcome) {
    case kFirstTime:
      fputs(kOutcomes[kFirstTime].label, out);
      break;
    case kRetried:
      fprintf(out, "done at attempt %d", m.attempts);
      break;
    case kRefused:
      fprintf(out, "refused at attempt %d", m.attempts);
      break;
    case kFailed:
      fprintf(out, "failed, %d attempt%s", m.attempts, s);
      break;
    default:
      fprintf(out, "outcome not in the log, %d attempt%s seen", m.attempts, s);
  }
}

void MarkTitle(const Drawing &d, const Mark &m, int plc) {
  char when[48];
  Label(d, d.axis == kTimeAxis ? m.start : m.index, true, when, sizeof when);
  fprintf(d.out, "<title>%s: PLC %02X, %s V%o, %d bytes: ", when, plc, m.write ? "write" : "read",
          VMemoryAddress(m.wordAddress), m.bytes);
  OutcomeWords(d.out, m);
  if (m.cause < kCauseCount) fprintf(d.out, "; failed attempts mostly: %s", kCauses[m.cause].text);
  fprintf(d.out, "</title>");
}

// One mark per operation, in its outcome's band; a failure also gets a thin
// line over the whole row, so that it stands out among many good ones.
void DrawMarks(const Drawing &d, const Row &r, int top, int plc) {
  for (unsigned long k = 0; k < r.operations; ++k) {
    const Mark &m = r.marks[k];
    int x = X(d, d.axis == kTimeAxis ? m.start : m.index);
    if (m.outcome == kFailed)
      fprintf(d.out, "<rect x=\"%d\" y=\"%d\" width=\"1\" height=\"%d\" class=\"line\"/>", x, top,
              kRow - 8);
    fprintf(d.out, "<rect x=\"%d\" y=\"%d\" width=\"2\" height=\"%d\" class=\"%s\">", x,
            top + 1 + BandOf(m.outcome) * kBandHeight, kBandHeight - 1,
            kBands[BandOf(m.outcome)].css);
    MarkTitle(d, m, plc);
    fprintf(d.out, "</rect>\n");
  }
}

// The row's buckets, gathered into the columns drawn.
void Gather(const Drawing &d, const Row &r, uint32_t (*columns)[kOutcomeCount]) {
  const Axis &a = d.t->axes[d.axis];
  for (int b = 0; b < kBuckets; ++b) {
    double centre = a.origin + (b + 0.5) * a.width;
    double f = d.last > d.first ? (centre - d.first) / (d.last - d.first) : 0;
    int c = static_cast<int>(f * kBarColumns);
    c = c < 0 ? 0 : c >= kBarColumns ? kBarColumns - 1 : c;
    for (int o = 0; o < kOutcomeCount; ++o) columns[c][o] += r.counts[d.axis][b][o];
  }
}

void BarTitle(const Drawing &d, int c, const uint32_t *n, uint32_t total) {
  char from[48], to[48];
  double span = d.last - d.first;
  Label(d, d.first + span * c / kBarColumns, true, from, sizeof from);
  Label(d, d.first + span * (c + 1) / kBarColumns, false, to, sizeof to);
  fprintf(d.out, "<title>%s to %s: %u operation%s", from, to, total, total == 1 ? "" : "s");
  for (int b = kBandCount - 1; b >= 0; --b)
    if (n[kBands[b].outcome])
      fprintf(d.out, ", %u %s", n[kBands[b].outcome], kOutcomes[kBands[b].outcome].label);
  fprintf(d.out, "</title>");
}

// Stacked bars, one per column of time, each the column's operations split
// by outcome: first time at the bottom, failures on top. An outcome that
// happened at all shows at least two pixels, so that one failure among
// hundreds of good exchanges is seen; a column without operations stays
// empty.
void DrawBars(const Drawing &d, const Row &r, int top) {
  static uint32_t columns[kBarColumns][kOutcomeCount];
  memset(columns, 0, sizeof columns);
  Gather(d, r, columns);
  uint32_t totals[kBarColumns] = {};
  for (int c = 0; c < kBarColumns; ++c)
    for (uint32_t n : columns[c]) totals[c] += n;
  for (int c = 0; c < kBarColumns; ++c) {
    if (!totals[c]) continue;
    int x = kLeft + c * (kWidth / kBarColumns), y = top + kRow - 9;
    fprintf(d.out, "<g>");
    BarTitle(d, c, columns[c], totals[c]);
    if (columns[c][kFailed])
      fprintf(d.out, "<rect x=\"%d\" y=\"%d\" width=\"1\" height=\"%d\" class=\"line\"/>", x, top,
              kRow - 8);
    for (int b = kBandCount - 1; b >= 0; --b) {
      uint32_t n = columns[c][kBands[b].outcome];
      if (!n) continue;
      int h = static_cast<int>((static_cast<double>(n) * kBarHeight + totals[c] / 2) / totals[c]);
      h = h < 2 ? 2 : h;
      y -= h;
      fprintf(d.out, "<rect x=\"%d\" y=\"%d\" width=\"3\" height=\"%d\" class=\"%s\"/>", x, y, h,
              kBands[b].css);
    }
    fprintf(d.out, "</g>\n");
  }
}

void DrawAxis(const Drawing &d, int y) {
  fprintf(d.out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/>", kLeft, y,
          kLeft + kWidth, y);
  for (int k = 0; k <= 4; ++k) {
    double f = k / 4.0;
    char label[48];
    // The date once, at the start; times of day after it.
    Label(d, d.first + f * (d.last - d.first), k == 0, label, sizeof label);
    int px = kLeft + static_cast<int>(f * (kWidth - 1));
    fprintf(d.out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/>", px, y, px,
            y + 5);
    const char *anchor = k == 0 ? "start" : k == 4 ? "end" : "middle";
    fprintf(d.out, "<text x=\"%d\" y=\"%d\" text-anchor=\"%s\">%s</text>\n", px, y + 20, anchor,
            label);
  }
}

}  // namespace

Timeline *TimelineCreate() { return static_cast<Timeline *>(calloc(1, sizeof(Timeline))); }

void TimelineDestroy(Timeline *t) {
  if (!t) return;
  for (Row *r : t->rows) free(r);
  free(t);
}

void TimelineAdd(const Operation &op, void *user) {
  Timeline *t = static_cast<Timeline *>(user);
  uint32_t index = t->operations++;
  if (!PlcKnown(op)) return;  // a fragment without its PLC has no row
  Row *&r = t->rows[op.plc];
  if (!r) r = static_cast<Row *>(calloc(1, sizeof(Row)));
  if (!r) return;
  if (r->operations < kWidth)
    r->marks[r->operations] = Mark{op.start,   index,       op.wordAddress, op.bytes,
                                   op.outcome, op.attempts, MainCause(op),  op.write};
  r->operations++;
  t->untimed = t->untimed || !op.timed;
  if (op.timed) Count(t, r, kTimeAxis, op.start, op.outcome);
  Count(t, r, kIndexAxis, index, op.outcome);
}

void TimelineWriteSvg(const Timeline *t, bool dated, FILE *out) {
  Drawing d = {t, out, kTimeAxis, 0, 0, dated};
  if (!t->axes[kTimeAxis].started || t->untimed) d.axis = kIndexAxis;
  d.first = t->axes[d.axis].first;
  d.last = t->axes[d.axis].last;
  int rows = 0;
  for (const Row *r : t->rows)
    if (r) rows += 1;
  WriteHead(d, rows);
  for (int plc = 0, row = 0; plc < kPlcNumbers; ++plc) {
    const Row *r = t->rows[plc];
    if (!r) continue;
    int top = kTop + row * kRow;
    row += 1;
    fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", kLeft, top,
            kWidth, kRow - 8, row % 2 ? "#ebebeb" : "#f4f4f4");
    fprintf(out, "<text x=\"8\" y=\"%d\">PLC %02X</text>\n", top + kRow / 2, plc);
    if (r->operations <= kWidth)
      DrawMarks(d, *r, top, plc);
    else
      DrawBars(d, *r, top);
  }
  DrawAxis(d, kTop + rows * kRow);
  fprintf(out, "</svg>\n");
}

namespace {

// The markup characters as entities; a control character, which XML does
// not allow even as a reference, as \xNN.
bool EscapeForMarkup(FILE *out, unsigned code) {
  const char *entity = nullptr;
  if (code == '<') entity = "&lt;";
  if (code == '>') entity = "&gt;";
  if (code == '&') entity = "&amp;";
  if (!entity) return EscapeControl(out, code);
  fputs(entity, out);
  return true;
}

}  // namespace

void WriteEscaped(FILE *out, const char *text) { WriteCleanText(out, text, EscapeForMarkup); }
