#include "log_summary.h"

#include <stdlib.h>
#include <string.h>

#include "json_writer.h"
#include "log_time.h"
#include "trace_line.h"

namespace {

constexpr uint32_t kAddresses = 65536;         // every word the header can name
constexpr int kAddressBytes = kAddresses / 8;  // a bit for each
constexpr int kMostRanges = 16;                // address ranges shown before "more"

void Mark(uint8_t **bits, const Operation &op) {
  if (!*bits) *bits = static_cast<uint8_t *>(calloc(kAddressBytes, 1));
  if (!*bits) return;
  uint32_t first = VMemoryAddress(op.wordAddress);
  int words = op.bytes > 2 ? op.bytes / 2 : 1;
  for (int k = 0; k < words; ++k) {
    uint32_t v = (first + static_cast<uint32_t>(k)) % kAddresses;
    (*bits)[v / 8] = static_cast<uint8_t>((*bits)[v / 8] | 1u << (v % 8));
  }
}

bool Bit(const uint8_t *bits, uint32_t v) { return bits[v / 8] >> (v % 8) & 1; }

// Calls put(k, "V40000-V40017") for each run of set bits.
template <typename Put>
int ForRanges(const uint8_t *bits, Put put) {
  int ranges = 0;
  if (!bits) return 0;
  for (uint32_t v = 0; v < kAddresses; ++v) {
    if (!bits[v / 8]) {  // a byte of no address at all: skip all eight
      v |= 7;
      continue;
    }
    if (!Bit(bits, v)) continue;
    uint32_t end = v;
    while (end + 1 < kAddresses && Bit(bits, end + 1)) ++end;
    char text[32];
    if (v == end)
      snprintf(text, sizeof text, "V%o", v);
    else
      snprintf(text, sizeof text, "V%o-V%o", v, end);
    put(ranges, text);
    ranges += 1;
    v = end;
  }
  return ranges;
}

// The longest run of failed operations in a row.
void TrackRun(PlcStats &p, const Operation &op) {
  if (op.outcome == kUnknown) return;  // neither breaks nor lengthens a run
  PlcStats::Run &r = p.run;
  if (op.outcome != kFailed) {
    r.operations = 0;
    return;
  }
  if (r.operations == 0)
    r = PlcStats::Run{1, true, op.start, op.end};
  else
    r.operations += 1;
  r.end = op.end;
  r.timed = r.timed && op.timed;
  if (r.operations > p.longest.operations) p.longest = r;
}

void PrintRanges(FILE *out, const char *label, const uint8_t *bits) {
  if (!bits) return;
  fprintf(out, "%s ", label);
  SummaryPrintRanges(out, bits);
  fputc('\n', out);
}

// The longest run's times when the log showed them: ", FROM to TO".
void PrintRun(FILE *out, const PlcStats &p, bool dated) {
  char from[40], to[40];
  if (!p.longest.operations || !p.longest.timed) return;
  FormatLogTime(p.longest.start, dated, from, sizeof from);
  FormatLogTime(p.longest.end, dated, to, sizeof to);
  fprintf(out, ", %s to %s", from, to);
}

void PrintPlcText(FILE *out, int n, const PlcStats &p, bool dated) {
  fprintf(out, "\nPLC %02X: %lu %s\n", n, p.operations,
          Plural(p.operations, "operation", "operations"));
  for (int o = 0; o < kOutcomeCount; ++o) {
    fprintf(out, "  %-27s%lu", kOutcomes[o].label, p.outcomes[o]);
    if (o == kRetried) fprintf(out, " (%lu %s)", p.retries, Plural(p.retries, "retry", "retries"));
    fputc('\n', out);
  }
  bool any = false;
  for (int k = 0; k < kCauseCount; ++k) any = any || p.causes[k];
  fprintf(out, "  failed attempts by cause%s\n", any ? "" : "   none");
  for (int k = 0; k < kCauseCount; ++k)
    if (p.causes[k]) fprintf(out, "    %-38s %lu\n", kCauses[k].text, p.causes[k]);
  PrintRanges(out, "  addresses                 ", p.addresses);
  PrintRanges(out, "  refused or failed at      ", p.failedAddresses);
  fprintf(out, "  longest run of failures    %lu %s", p.longest.operations,
          Plural(p.longest.operations, "operation", "operations"));
  PrintRun(out, p, dated);
  fputc('\n', out);
}

void JsonRanges(JsonWriter *j, const char *key, const uint8_t *bits) {
  JsonOpenArray(j, key, kJsonOneLine);
  ForRanges(bits, [&](int, const char *text) { JsonString(j, nullptr, text); });
  JsonClose(j);
}

// The longest run of failures, its times null when the log did not show them.
void JsonRun(JsonWriter *j, const PlcStats &p, bool dated) {
  char from[40], to[40];
  bool timed = p.longest.operations && p.longest.timed;
  if (timed) FormatLogTime(p.longest.start, dated, from, sizeof from);
  if (timed) FormatLogTime(p.longest.end, dated, to, sizeof to);
  JsonOpenObject(j, "longest_failure_run", kJsonOneLine);
  JsonWhole(j, "operations", static_cast<long long>(p.longest.operations));
  JsonString(j, "from", timed ? from : nullptr);
  JsonString(j, "to", timed ? to : nullptr);
  JsonClose(j);
}

void PlcJson(JsonWriter *j, const char *key, const PlcStats &p, bool dated) {
  JsonOpenObject(j, key);
  JsonWhole(j, "operations", static_cast<long long>(p.operations));
  for (int o = 0; o < kOutcomeCount; ++o)
    JsonWhole(j, kOutcomes[o].key, static_cast<long long>(p.outcomes[o]));
  JsonWhole(j, "retries", static_cast<long long>(p.retries));
  JsonOpenObject(j, "causes", kJsonOneLine);
  for (int k = 0; k < kCauseCount; ++k)
    JsonWhole(j, kCauses[k].key, static_cast<long long>(p.causes[k]));
  JsonClose(j);
  JsonRanges(j, "addresses", p.addresses);
  JsonRanges(j, "failed_addresses", p.failedAddresses);
  JsonRun(j, p, dated);
  JsonClose(j);
}

}  // namespace

LogSummary *SummaryCreate() { return static_cast<LogSummary *>(calloc(1, sizeof(LogSummary))); }

void SummaryReset(LogSummary *s) {
  for (PlcStats &p : s->plc) {
    free(p.addresses);
    free(p.failedAddresses);
  }
  memset(s, 0, sizeof *s);
}

void SummaryDestroy(LogSummary *s) {
  if (!s) return;
  SummaryReset(s);
  free(s);
}

void SummaryAdd(const Operation &op, void *user) {
  LogSummary *s = static_cast<LogSummary *>(user);
  s->operations++;
  if (op.outcome == kUnknown) s->unknown++;
  if (op.timed && (!s->haveTime || op.start < s->first)) s->first = op.start;
  if (op.timed && (!s->haveTime || op.start > s->last)) s->last = op.start;
  s->haveTime = s->haveTime || op.timed;
  if (!PlcKnown(op)) {
    s->unknownWithoutPlc++;
    return;
  }
  PlcStats &p = s->plc[op.plc];
  p.operations++;
  p.outcomes[op.outcome]++;
  for (int c = 0; c < kCauseCount; ++c) p.causes[c] += op.causes[c];
  if (op.outcome == kRetried) p.retries += static_cast<unsigned long>(op.attempts - 1);
  Mark(&p.addresses, op);
  if (GivenUp(op.outcome)) Mark(&p.failedAddresses, op);
  TrackRun(p, op);
}

void SummaryPrintRanges(FILE *out, const uint8_t *bits) {
  int shown = ForRanges(bits, [&](int k, const char *text) {
    if (k < kMostRanges) fprintf(out, "%s%s", k ? " " : "", text);
  });
  if (shown > kMostRanges) fprintf(out, " and %d more ranges", shown - kMostRanges);
}

void SummaryPrintText(const LogSummary *s, const LogCounts *c, FILE *out) {
  fprintf(out, "log: %lu %s, %lu from the driver, %lu skipped, %lu damaged, %lu out of order\n",
          c->lines, Plural(c->lines, "line", "lines"), c->driverLines, c->skippedLines,
          c->damagedLines, c->outOfOrder);
  fprintf(out, "operations: %lu, %lu of them with an outcome the log does not show", s->operations,
          s->unknown);
  if (s->unknownWithoutPlc) fprintf(out, " (%lu for no known PLC)", s->unknownWithoutPlc);
  fprintf(out, "\nports that failed to open: %lu\n", c->openFailures);
  if (c->echoed) {
    PrintEchoWords(c, out);
    fputc('\n', out);
  }
  for (int n = 0; n < kPlcNumbers; ++n)
    if (s->plc[n].operations) PrintPlcText(out, n, s->plc[n], c->dated);
}

bool SummaryPrintJson(const LogSummary *s, const LogCounts *c, FILE *out) {
  // clang-format off
  const struct { const char *key; unsigned long value; } counts[] = {
    {"lines", c->lines},           {"driver_lines", c->driverLines},
    {"skipped_lines", c->skippedLines}, {"damaged_lines", c->damagedLines},
    {"out_of_order_lines", c->outOfOrder}, {"open_failures", c->openFailures},
    {"echoed_operations", c->echoed},
    {"operations", s->operations}, {"unknown", s->unknown},
  };
  // clang-format on
  JsonWriter j;
  JsonStart(&j, out);
  JsonOpenObject(&j, nullptr);
  for (const auto &count : counts) JsonWhole(&j, count.key, static_cast<long long>(count.value));
  JsonOpenObject(&j, "plcs");
  for (int n = 0; n < kPlcNumbers; ++n) {
    if (!s->plc[n].operations) continue;
    char key[4];
    snprintf(key, sizeof key, "%02X", n);
    PlcJson(&j, key, s->plc[n], c->dated);
  }
  JsonClose(&j);
  JsonClose(&j);
  return JsonFinish(&j);
}

double FailureRate(const PlcStats &p) {
  return 100.0 * (p.outcomes[kRefused] + p.outcomes[kFailed]) / p.operations;
}

void PrintEchoWords(const LogCounts *c, FILE *out) {
  fprintf(out,
          "the line echoes (a two-wire RS-485 converter): %lu %s set the echo aside, no failure",
          c->echoed, Plural(c->echoed, "operation", "operations"));
}

const char *Plural(unsigned long n, const char *one, const char *more) {
  return n == 1 ? one : more;
}
