#include "log_html.h"

#include "log_time.h"
#include "lumisar_version.h"

namespace {

// What each cause of a failed attempt means and what to check, in the user
// guide's words (its log and troubleshooting tables), so that page and guide
// agree; the causes' names are kCauses'.
// clang-format off
constexpr struct { int cause; const char *meaning, *check; } kCauseAdvice[] = {
  {kCauseNoAnswer,       "nothing, or too little, came back in time",
                         "cable (a null-modem for PC to controller ports that need it), baud rate and parity on both sides, the controller's port mode, the station number"},
  {kCauseAnotherStation, "the acknowledge carried another station's number",
                         "station numbers; an RS-485 converter echoing"},
  {kCauseBadAcknowledge, "the acknowledge was garbled",
                         "cable length and screening, earthing, a lower baud rate"},
  {kCauseNoAck,          "the controller said no at the enquiry",
                         "the controller's port may not accept writes"},
  {kCauseHeaderRefused,  "the controller refused the header",
                         "the address range is outside the controller's memory"},
  {kCauseDataRefused,    "the controller refused the data of a write",
                         "noise, or memory the controller will not write"},
  {kCauseBadCheckByte,   "a read's data frame failed its check byte",
                         "noise on the line: cable, screening, length, earthing; a baud rate at its limit"},
  {kCauseBadStx,         "the data frame did not start with STX",
                         "two masters on one line, or another protocol on the controller's port"},
  {kCauseDataFrame,      "the data frame did not come, came short, or was rejected",
                         "raise the reply time limit"},
  {kCauseNoEot,          "the controller sent nothing after the driver's ACK",
                         "a controller too slow for the reply time limit; raise the limit"},
  {kCauseBadEot,         "another byte came instead of EOT",
                         "noise, or another device answering"},
  {kCauseBytesAfterAck,  "more bytes came behind an ACK in a write",
                         "another device talking on the line, or noise"},
};
// clang-format on
constexpr bool InCauseOrder() {
  for (int k = 0; k < kCauseCount; ++k)
    if (kCauseAdvice[k].cause != k) return false;
  return sizeof kCauseAdvice / sizeof kCauseAdvice[0] == kCauseCount;
}
static_assert(InCauseOrder(), "advice for each cause, in the causes' order");

// The page's heading without a title, and its first line with one.
constexpr char kAnalysisName[] = "LUMISAR.DLL log analysis";

// Outcomes in the timeline's colours; the cause bars in a blue of their own,
// which no outcome uses.
const char kStyle[] =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:1100px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse}td,th{padding:3px 10px;text-align:right}"
    "th{background:#eee}td:first-child,th:first-child{text-align:left}"
    "tbody tr:hover{background:#fff3c4}"
    ".facts td,.advice td,.advice th{text-align:left;vertical-align:top}"
    ".cause{display:flex;align-items:center;margin:2px 0}.cause span{width:290px}"
    ".bar{height:12px;background:#0072b2;margin-right:6px}"
    ".failed{color:#a50f15;font-weight:bold}svg{max-width:100%;height:auto}";

void Facts(FILE *out, const LogSummary *s, const LogCounts *c, char **inputs, int count) {
  fputs("<table class=\"facts\"><tr><td>files</td><td data-key=\"files\">", out);
  for (int k = 0; k < count; ++k) {
    fputs(k ? ", " : "", out);
    WriteEscaped(out, inputs[k][0] == '-' && !inputs[k][1] ? "standard input" : inputs[k]);
  }
  fputs("</td></tr>\n<tr><td>driver</td><td data-key=\"driver_version\">", out);
  fputs(c->driverVersion[0] ? c->driverVersion : "not in the log (its banner is not there)", out);
  fputs("</td></tr>\n<tr><td>ports</td><td data-key=\"ports\">", out);
  for (int k = 0; k < c->portCount; ++k) {
    fputs(k ? ", " : "", out);
    WriteEscaped(out, c->ports[k]);
  }
  if (!c->portCount) fputs("none named (the driver names a port when it will not open)", out);
  if (c->echoed) {
    fputs("</td></tr>\n<tr><td>line echo</td><td data-key=\"echoed_operations\">", out);
    PrintEchoWords(c, out);
  }
  char from[40] = "", to[40] = "";
  if (s->haveTime) FormatLogTime(s->first, c->dated, from, sizeof from);
  if (s->haveTime) FormatLogTime(s->last, c->dated, to, sizeof to);
  fprintf(out, "</td></tr>\n<tr><td>time span</td><td>%s%s%s</td></tr>\n",
          s->haveTime ? from : "the log has no time stamps", s->haveTime ? " to " : "", to);
  fprintf(out,
          "<tr><td>lines</td><td>%lu: %lu from the driver, %lu skipped, %lu damaged, %lu out of "
          "order</td></tr>\n<tr><td>operations</td><td>%lu, %lu with an outcome the log does not "
          "show</td></tr>\n<tr><td>ports that failed to open</td><td>%lu</td></tr></table>\n",
          c->lines, c->driverLines, c->skippedLines, c->damagedLines, c->outOfOrder, s->operations,
          s->unknown, c->openFailures);
}

unsigned long FailedAttempts(const PlcStats &p) {
  unsigned long n = 0;
  for (unsigned long k : p.causes) n += k;
  return n;
}

// The retries column counts only the operations that ended done; every
// failed attempt, whatever the operation's end, has a column of its own.
void PlcTable(FILE *out, const LogSummary *s) {
  fputs("<h2>Per controller</h2>\n<table id=\"plcs\"><thead><tr><th>PLC</th><th>operations</th>",
        out);
  for (const auto &o : kOutcomes) fprintf(out, "<th>%s</th>", o.label);
  fputs(
      "<th>retries before done</th><th>failed attempts</th><th>failure rate</th></tr></thead>"
      "<tbody>\n",
      out);
  for (int n = 0; n < kPlcNumbers; ++n) {
    const PlcStats &p = s->plc[n];
    if (!p.operations) continue;
    fprintf(out, "<tr data-plc=\"%02X\"><td>%02X</td><td data-key=\"operations\">%lu</td>", n, n,
            p.operations);
    for (int o = 0; o < kOutcomeCount; ++o)
      fprintf(out, "<td data-key=\"%s\">%lu</td>", kOutcomes[o].key, p.outcomes[o]);
    double rate = FailureRate(p);
    fprintf(out,
            "<td data-key=\"retries\">%lu</td><td data-key=\"failed_attempts\">%lu</td>"
            "<td data-key=\"failure_rate\"%s>%.2f %%</td></tr>\n",
            p.retries, FailedAttempts(p), rate > 0 ? " class=\"failed\"" : "", rate);
  }
  fputs("</tbody></table>\n", out);
}

void CauseBars(FILE *out, const LogSummary *s) {
  unsigned long most = 1;
  for (const PlcStats &p : s->plc)
    for (unsigned long n : p.causes) most = n > most ? n : most;
  fputs("<h2>Causes of failed attempts</h2>\n", out);
  for (int n = 0; n < kPlcNumbers; ++n) {
    const PlcStats &p = s->plc[n];
    if (!p.operations) continue;
    fprintf(out, "<h3>PLC %02X</h3>\n", n);
    bool any = false;
    for (int k = 0; k < kCauseCount; ++k) {
      if (!p.causes[k]) continue;
      any = true;
      fprintf(out,
              "<div class=\"cause\"><span>%s</span><div class=\"bar\" style=\"width:%.1f%%\">"
              "</div>%lu</div>\n",
              kCauses[k].text, 60.0 * p.causes[k] / most, p.causes[k]);
    }
    if (!any) fputs("<p>no failed attempts</p>\n", out);
  }
}

// What each cause seen means and what to check, beside the bars.
void Advice(FILE *out, const LogSummary *s) {
  bool seen[kCauseCount] = {}, any = false;
  for (const PlcStats &p : s->plc)
    for (int k = 0; k < kCauseCount; ++k) seen[k] = seen[k] || p.causes[k];
  for (bool b : seen) any = any || b;
  if (!any) return;
  fputs(
      "<h3>What the causes mean</h3>\n<table class=\"advice\"><thead><tr><th>cause</th>"
      "<th>what happened</th><th>what to check</th></tr></thead><tbody>\n",
      out);
  for (const auto &a : kCauseAdvice)
    if (seen[a.cause])
      fprintf(out, "<tr data-cause=\"%s\"><td>%s</td><td>%s</td><td>%s</td></tr>\n",
              kCauses[a.cause].key, kCauses[a.cause].text, a.meaning, a.check);
  fputs("</tbody></table>\n", out);
}

void Addresses(FILE *out, const LogSummary *s) {
  fputs("<h2>Addresses refused or failed</h2>\n<table><tbody>\n", out);
  bool any = false;
  for (int n = 0; n < kPlcNumbers; ++n) {
    if (!s->plc[n].failedAddresses) continue;
    any = true;
    fprintf(out, "<tr><td>PLC %02X</td><td style=\"text-align:left\">", n);
    SummaryPrintRanges(out, s->plc[n].failedAddresses);
    fputs("</td></tr>\n", out);
  }
  fputs(any ? "</tbody></table>\n" : "<tr><td>none</td></tr></tbody></table>\n", out);
}

}  // namespace

void WriteHtml(FILE *out, const LogSummary *s, const LogCounts *c, const Timeline *t, char **inputs,
               int count, const char *title) {
  const char *heading = title ? title : kAnalysisName;
  fputs("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>", out);
  WriteEscaped(out, heading);
  fprintf(out, "</title><style>%s</style></head><body>\n<h1>", kStyle);
  WriteEscaped(out, heading);
  fputs("</h1>\n", out);
  if (title) fprintf(out, "<p>%s</p>\n", kAnalysisName);
  Facts(out, s, c, inputs, count);
  PlcTable(out, s);
  CauseBars(out, s);
  Advice(out, s);
  fputs("<h2>Timeline</h2>\n<p>Hover over a mark or a bar for its details.</p>\n", out);
  TimelineWriteSvg(t, c->dated, out);
  Addresses(out, s);
  fprintf(out, "<p style=\"color:#777\">zubhost %s analyze</p>\n</body></html>\n",
          LUMISAR_VERSION_TEXT);
}
