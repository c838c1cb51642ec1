#include "log_timeline.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr int kColumns = 900;  // one per pixel of the time axis
constexpr int kLeft = 70, kTop = 56, kRow = 34, kBottom = 44, kRight = 20;

// Worst first: a column shows the worst outcome that fell into it.
enum Mark : uint8_t {
  kNone,
  kMarkFirstTime,
  kMarkUnknown,
  kMarkRetried,
  kMarkRefused,
  kMarkFailed
};

Mark MarkOf(Outcome o) {
  switch (o) {
    case kFirstTime:
      return kMarkFirstTime;
    case kRetried:
      return kMarkRetried;
    case kRefused:
      return kMarkRefused;
    case kFailed:
      return kMarkFailed;
    default:
      return kMarkUnknown;
  }
}

// clang-format off
const struct { const char *colour; double height; const char *label; } kStyle[] = {
  {"",        0.0,  ""},
  {"#2e9e4f", 0.35, "done at the first attempt"},
  {"#9a9a9a", 0.35, "outcome not in the log"},
  {"#e0a800", 0.6,  "done after retries"},
  {"#e8590c", 1.0,  "refused"},
  {"#d00000", 1.0,  "failed"},
};
// clang-format on

}  // namespace

struct Timeline {
  SummarySpan span;
  int rowOf[256];
  unsigned long index;  // operations seen, for logs without time stamps
  uint8_t marks[256][kColumns];
};

Timeline *TimelineCreate(const SummarySpan *span) {
  Timeline *t = static_cast<Timeline *>(calloc(1, sizeof(Timeline)));
  if (!t) return nullptr;
  t->span = *span;
  for (int &r : t->rowOf) r = -1;
  for (int k = 0; k < span->plcCount; ++k) t->rowOf[span->plcs[k]] = k;
  return t;
}

void TimelineDestroy(Timeline *t) { free(t); }

void TimelineAdd(const Operation &op, void *user) {
  Timeline *t = static_cast<Timeline *>(user);
  double x = static_cast<double>(t->index++);
  double first = 0, last = static_cast<double>(t->span.operations ? t->span.operations - 1 : 0);
  if (t->span.timed) {
    x = op.start;
    first = t->span.first;
    last = t->span.last;
  }
  if (op.plc < 0 || op.plc > 255 || t->rowOf[op.plc] < 0) return;
  int column = last > first ? static_cast<int>((x - first) / (last - first) * (kColumns - 1)) : 0;
  if (column < 0 || column >= kColumns) return;
  uint8_t &m = t->marks[t->rowOf[op.plc]][column];
  Mark mark = MarkOf(op.outcome);
  if (mark > m) m = mark;
}

void TimelineWriteSvg(const Timeline *t, bool dated, const char *title, FILE *out) {
  int rows = t->span.plcCount;
  int width = kLeft + kColumns + kRight, height = kTop + rows * kRow + kBottom;
  fprintf(out,
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
          "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n",
          width, height, width, height);
  fprintf(out, "<rect width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n", width, height);
  fprintf(out, "<text x=\"%d\" y=\"18\" font-size=\"14\" font-weight=\"bold\">", kLeft);
  for (const char *p = title; *p; ++p) {
    if (*p == '<')
      fputs("&lt;", out);
    else if (*p == '&')
      fputs("&amp;", out);
    else
      fputc(*p, out);
  }
  fprintf(out, "</text>\n");
  int x = kLeft;
  for (int m = kMarkFirstTime; m <= kMarkFailed; ++m) {
    fprintf(out, "<rect x=\"%d\" y=\"28\" width=\"10\" height=\"10\" fill=\"%s\"/>", x,
            kStyle[m].colour);
    fprintf(out, "<text x=\"%d\" y=\"37\">%s</text>\n", x + 14, kStyle[m].label);
    x += 14 + 7 * static_cast<int>(strlen(kStyle[m].label)) + 18;
  }
  for (int r = 0; r < rows; ++r) {
    int top = kTop + r * kRow;
    fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", kLeft, top,
            kColumns, kRow - 6, r % 2 ? "#f4f4f4" : "#ebebeb");
    fprintf(out, "<text x=\"8\" y=\"%d\">PLC %02X</text>\n", top + kRow / 2 + 1, t->span.plcs[r]);
    // Neighbouring columns of one outcome make one rectangle.
    for (int c = 0; c < kColumns;) {
      uint8_t m = t->marks[r][c];
      int end = c + 1;
      while (end < kColumns && t->marks[r][end] == m) ++end;
      if (m != kNone) {
        double h = (kRow - 6) * kStyle[m].height;
        fprintf(out, "<rect x=\"%d\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" fill=\"%s\"/>\n",
                kLeft + c, top + (kRow - 6) - h, end - c, h, kStyle[m].colour);
      }
      c = end;
    }
  }
  int axis = kTop + rows * kRow;
  fprintf(out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/>\n", kLeft, axis,
          kLeft + kColumns, axis);
  for (int k = 0; k <= 4; ++k) {
    double f = k / 4.0;
    char label[48];
    if (t->span.timed)
      FormatLogTime(t->span.first + f * (t->span.last - t->span.first), dated, label, sizeof label);
    else
      snprintf(label, sizeof label, "operation %lu",
               static_cast<unsigned long>(f * static_cast<double>(t->span.operations)));
    int px = kLeft + static_cast<int>(f * (kColumns - 1));
    fprintf(out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/>", px, axis, px,
            axis + 5);
    fprintf(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"%s\">%s</text>\n", px, axis + 20,
            k == 0   ? "start"
            : k == 4 ? "end"
                     : "middle",
            label);
  }
  fprintf(out, "</svg>\n");
}
