#include "log_html.h"

#include "log_time.h"
#include "lumisar_version.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:1100px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse}td,th{padding:3px 10px;text-align:right}"
    "th{background:#eee}td:first-child,th:first-child{text-align:left}"
    "tbody tr:hover{background:#fff3c4}.facts td{text-align:left}"
    ".cause{display:flex;align-items:center;margin:2px 0}.cause span{width:290px}"
    ".bar{height:12px;background:#d9822b;margin-right:6px}"
    ".failed{color:#b00000;font-weight:bold}svg{max-width:100%;height:auto}";

void Facts(FILE *out, const LogSummary *s, const LogCounts *c, char **inputs, int count) {
  fputs("<table class=\"facts\"><tr><td>files</td><td>", out);
  for (int k = 0; k < count; ++k) {
    fputs(k ? ", " : "", out);
    WriteEscaped(out, inputs[k][0] == '-' && !inputs[k][1] ? "standard input" : inputs[k]);
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

void PlcTable(FILE *out, const LogSummary *s) {
  fputs("<h2>Per controller</h2>\n<table id=\"plcs\"><thead><tr><th>PLC</th><th>operations</th>",
        out);
  for (const auto &o : kOutcomes) fprintf(out, "<th>%s</th>", o.label);
  fputs("<th>retries</th><th>failure rate</th></tr></thead><tbody>\n", out);
  for (int n = 0; n < 256; ++n) {
    const PlcStats &p = s->plc[n];
    if (!p.operations) continue;
    fprintf(out, "<tr data-plc=\"%02X\"><td>%02X</td><td data-key=\"operations\">%lu</td>", n, n,
            p.operations);
    for (int o = 0; o < kOutcomeCount; ++o)
      fprintf(out, "<td data-key=\"%s\">%lu</td>", kOutcomes[o].key, p.outcomes[o]);
    unsigned long bad = p.outcomes[kRefused] + p.outcomes[kFailed];
    fprintf(out, "<td data-key=\"retries\">%lu</td><td%s>%.2f %%</td></tr>\n", p.retries,
            bad ? " class=\"failed\"" : "", 100.0 * bad / p.operations);
  }
  fputs("</tbody></table>\n", out);
}

void CauseBars(FILE *out, const LogSummary *s) {
  unsigned long most = 1;
  for (const PlcStats &p : s->plc)
    for (unsigned long n : p.causes) most = n > most ? n : most;
  fputs("<h2>Causes of failed attempts</h2>\n", out);
  for (int n = 0; n < 256; ++n) {
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

void Addresses(FILE *out, const LogSummary *s) {
  fputs("<h2>Addresses refused or failed</h2>\n<table><tbody>\n", out);
  bool any = false;
  for (int n = 0; n < 256; ++n) {
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
               int count) {
  fprintf(out,
          "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
          "<title>LUMISAR.DLL log analysis</title><style>%s</style></head><body>\n"
          "<h1>LUMISAR.DLL log analysis</h1>\n",
          kStyle);
  Facts(out, s, c, inputs, count);
  PlcTable(out, s);
  CauseBars(out, s);
  fputs("<h2>Timeline</h2>\n<p>Hover over a mark or a bar for its details.</p>\n", out);
  TimelineWriteSvg(t, c->dated, out);
  Addresses(out, s);
  fprintf(out, "<p style=\"color:#777\">zubhost %s analyze</p>\n</body></html>\n",
          LUMISAR_VERSION_TEXT);
}
