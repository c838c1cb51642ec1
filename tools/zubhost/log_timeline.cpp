#include "log_timeline.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr int kColumns = 900;  // one per pixel of the time axis
constexpr int kLeft = 70, kTop = 56, kRow = 40, kBottom = 44, kRight = 20;
constexpr int kBandHeight = 6;  // one band of the row for each outcome

// clang-format off
// Bands from the top of a row: failures first, where the eye starts.
const struct { Outcome outcome; const char *colour; const char *label; } kBands[] = {
  {kFailed,    "#d00000", "failed"},
  {kRefused,   "#e8590c", "refused"},
  {kUnknown,   "#9a9a9a", "outcome not in the log"},
  {kRetried,   "#e0a800", "done after retries"},
  {kFirstTime, "#2e9e4f", "done at the first attempt"},
};
// clang-format on

}  // namespace

struct Timeline {
  SummarySpan span;
  int rowOf[256];
  unsigned long index;           // operations seen, for logs without time stamps
  uint8_t marks[256][kColumns];  // a bit for each outcome that fell in the column
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
  t->marks[t->rowOf[op.plc]][column] |= static_cast<uint8_t>(1u << op.outcome);
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
  for (const auto &band : kBands) {
    fprintf(out, "<rect x=\"%d\" y=\"28\" width=\"10\" height=\"10\" fill=\"%s\"/>", x,
            band.colour);
    fprintf(out, "<text x=\"%d\" y=\"37\">%s</text>\n", x + 14, band.label);
    x += 14 + 7 * static_cast<int>(strlen(band.label)) + 18;
  }
  for (int r = 0; r < rows; ++r) {
    int top = kTop + r * kRow;
    fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", kLeft, top,
            kColumns, kRow - 8, r % 2 ? "#f4f4f4" : "#ebebeb");
    fprintf(out, "<text x=\"8\" y=\"%d\">PLC %02X</text>\n", top + kRow / 2, t->span.plcs[r]);
    const uint8_t *marks = t->marks[r];
    // A failure also gets a thin line over the whole row, so that it stands
    // out among thousands of good exchanges.
    for (int c = 0; c < kColumns; ++c)
      if (marks[c] & (1u << kFailed))
        fprintf(out,
                "<rect x=\"%d\" y=\"%d\" width=\"1\" height=\"%d\" fill=\"#d00000\" "
                "fill-opacity=\"0.35\"/>\n",
                kLeft + c, top, kRow - 8);
    for (int b = 0; b < static_cast<int>(sizeof kBands / sizeof kBands[0]); ++b) {
      uint8_t bit = static_cast<uint8_t>(1u << kBands[b].outcome);
      int y = top + 1 + b * kBandHeight;
      // Neighbouring columns with the outcome make one rectangle.
      for (int c = 0; c < kColumns;) {
        if (!(marks[c] & bit)) {
          ++c;
          continue;
        }
        int end = c + 1;
        while (end < kColumns && (marks[end] & bit)) ++end;
        fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n",
                kLeft + c, y, end - c, kBandHeight - 1, kBands[b].colour);
        c = end;
      }
    }
  }
  int axis = kTop + rows * kRow;
  fprintf(out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/>\n", kLeft, axis,
          kLeft + kColumns, axis);
  for (int k = 0; k <= 4; ++k) {
    double f = k / 4.0;
    char label[48];
    if (t->span.timed) {
      // The date once, at the start; times of day after it.
      FormatLogTime(t->span.first + f * (t->span.last - t->span.first), dated && k == 0, label,
                    sizeof label);
    } else {
      snprintf(label, sizeof label, "operation %lu",
               static_cast<unsigned long>(f * static_cast<double>(t->span.operations)));
    }
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
