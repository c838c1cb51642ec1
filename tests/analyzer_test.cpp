// The log analyser's I/O-free cores, row by row: reading the driver's
// lines (trace_line), the hosts' time stamps (log_time), the operations
// rebuilt from a log (log_analysis) and the summary's text (log_summary).
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "clean_text.h"
#include "json_writer.h"
#include "log_analysis.h"
#include "log_reader.h"
#include "log_summary.h"
#include "log_time.h"
#include "log_timeline.h"
#include "trace_line.h"

#define TX ORVEN_TRACE_SENT
#define RX ORVEN_TRACE_RECEIVED

namespace {

// clang-format off
// line | kind | damaged | cause | first and last byte
const struct { const char *line; TraceKind kind; bool damaged; int cause; int first, last; } kLines[] = {
  {"2026-05-06 07:08:09.012 [8] " TX "4E 21 05 01 30 31 30 31 34 30 30 31 30 30 30 32 30", kTraceSent, false, kCauseCount, 0x4E, 0x30},
  {"8|" RX "4e 21 06 00 00 00 00 00 00 00 00 00 00 00 00 00 0a \r", kTraceReceived, false, kCauseCount, 0x4E, 0x0A},
  {TX "4E 21 05 01 3G 31 30 31 34 30 30 31 30 30 30 32 30", kTraceSent, true, kCauseCount},  // beyond F
  {TX "4E 21 05\t01 30 31 30 31 34 30 30 31 30 30 30 32 30", kTraceSent, true, kCauseCount},  // a tab
  {RX "4E 21 06 00 00 00 00 00", kTraceReceived, true, kCauseCount},  // cut in the middle
  {RX "06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 8 " RX "04", kTraceReceived, true, kCauseCount},  // run together
  {"x ORVEN: Failed to open COM9", kTraceOpenFailed, false, kCauseCount},
  {kLogBadLrc, kTraceDiagnostic, false, kCauseBadCheckByte},
  {kLogReadBadAck, kTraceDiagnostic, false, kCauseCount},  // the bytes before it tell why
  {kLogEchoSetAside, kTraceEcho, false, kCauseCount},  // no failure
  {"ORVEN> SomethingNew()", kTraceUnknown, false, kCauseCount},
  {"a host's line about ORVEN", kTraceOther, false, kCauseCount},
};
// text | dated | the stamp as the analyser writes it back ("": none found)
const struct { const char *text; bool dated; const char *shown; } kStamps[] = {
  {"2026-05-06T07:08:09.012 8 ORVEN", true, "2026-05-06T07:08:09.012"},
  {"2026-05-06 07:08:09,5 [8] ORVEN", true, "2026-05-06T07:08:09.500"},
  {"8 07:08:09.250 ORVEN", false, "07:08:09.250"},
  {"2026-13-05T07:08:09.012", false, "07:08:09.012"},  // no month 13: the time of day alone
  {"2026-05-00T07:08:09", false, "07:08:09.000"},
  {"24:00:00 07:60:00 7:08:09", false, ""},
};
// One symbol a line of a read (E...) or a write (W...) of V40000 at PLC 01;
// the fields after the first few are 00.
const struct { char symbol; const char *line; } kSymbols[] = {
  {'E', TX "4E 21 05 01 30 31 30 31 34 30 30 31 30 30 30 32 30"}, {'H', TX "01 30 31 30 31 34 30 30 31 30 30 30 32 30 30 17 07"},
  {'W', TX "4E 21 05 01 30 31 38 31 34 30 30 31 30 30 30 32 30"}, {'h', TX "01 30 31 38 31 34 30 30 31 30 30 30 32 30 30 17 0F"},
  {'Z', TX "01 31 5A 30 31 34 30 30 31 30 30 30 32 30 30 17 07"},  // a header with the PLC digits 1Z
  {'F', TX "4E 1F 05 01 46 46 30 31 34 30 30 31 30 30 30 32 30"}, {'G', TX "01 46 46 30 31 34 30 30 31 30 30 30 32 30 30 17 06"},  // PLC FF
  {'a', RX "4E 1F 06"},
  {'A', RX "4E 21 06"}, {'S', RX "4E 22 06"}, {'N', RX "4E 21 15"}, {'0', RX "00"}, {'K', RX "06"}, {'R', RX "15"},
  {'D', RX "02 00 00 03"}, {'d', TX "02 05 00 03 05"}, {'k', TX "06"}, {'T', RX "04"}, {'t', TX "04"},
  {'e', RX "4E 21 05"}, {'j', RX "01 30 31 30 31 34 30 30 31 30 30 30 32 30 30 17 07"}, {'y', kLogEchoSetAside},  // echoes
  {'L', kLogBadLrc}, {'B', kLogBytesAfterAck}, {'X', "a line of the host's own"}, {'O', ORVEN_OPEN_FAILED "COM9"}, {'~', TX "4E 2"},
};
// the log in symbols ('<': the lines after it stamped years earlier; '.': the log
// falls quiet, "quiet" in the analysis) | what the analysis gives
const struct { const char *log, *analysis; } kLogs[] = {
  {"XEAHKDkTt",                   "01 read V40000 first_time/1 skipped=1"},
  {"E0ESEAHKDkTt",                "01 read V40000 retried/3 no_answer:1 another_station:1"},
  {"EAHKDLEAHKDkTt",              "01 read V40000 retried/2 bad_check_byte:1"},
  {"EAHKDkDEAHKDkTt",             "01 read V40000 retried/2 no_eot:1"},
  {"WAhKdRWAhKdKt",               "01 write V40000 retried/2 data_refused:1"},
  {"WAhKdKBWAhKdKt",              "01 write V40000 retried/2 bytes_after_ack:1"},
  {"E0E0E0E0E0E0",                "01 read V40000 failed/6 no_answer:6"},
  {"ENENENENEAHKDkTt",            "01 read V40000 retried/5 no_ack:4"},
  {"ENENENENEN",                  "01 read V40000 refused/5 no_ack:5"},
  {"EAHREAHREAHREAHREAHR",        "01 read V40000 refused/5 header_refused:5"},
  {"WAhRWAhRWAhRWAhRWAhRWAhKdKt", "01 write V40000 retried/6 header_refused:5"},
  {"EAH~KDkTt",                   "01 read V40000 unknown/1 damaged=1"},
  {"EAH<KDkTt",                   "01 read V40000 unknown/1 out_of_order=1"},
  {"kTtEAHKDkTtEA",               "fragment; 01 read V40000 first_time/1; 01 read V40000 unknown/1"},
  {"HKDkTt",                      "01 read V40000 unknown/1"},  // caught at its header
  {"EAH",                         "01 read V40000 unknown/1"},  // cut at its header
  {"FaG",                         "FF read V40000 unknown/1"},  // PLC FF's, cut at its header
  {"G",                           "FF read V40000 unknown/1"},
  {"ZKDkTtEAHKDkTt",              "fragment; 01 read V40000 first_time/1"},
  {"OEAHKDkTt",                   "01 read V40000 first_time/1 open_failures=1"},
  {"E0E0E0E0E0E0.",               "01 read V40000 failed/6 no_answer:6; quiet"},  // shown as the log rests
  {"EAHKDEAHKDEAHKDEAHKDEAHKDEAHKD.kTt", "01 read V40000 failed/6 data_frame:6; quiet"},  // once only
  {"E0E0.E0E0E0E0",               "quiet; 01 read V40000 failed/6 no_answer:6"},  // attempts to come
  {"E0E0E0E0E0E.",                "quiet; 01 read V40000 unknown/6 no_answer:5"},  // a reply awaited
  {"EeyAHjKDkKTtEeAHjKDkKTt",     "01 read V40000 first_time/1; 01 read V40000 first_time/1 echoed=1"},  // an echoing line
  {"Eey0Ee0Ee0Ee0Ee0Ee0",         "01 read V40000 failed/6 no_answer:6 echoed=1"},  // nothing behind the echo
};
// the log in symbols | what the summary's text says of it
const struct { const char *log, *says; } kSummaries[] = {
  {"E0E0E0E0E0E0EAHKDkTtE0E0E0E0E0E0E0E0E0E0E0E0", "longest run of failures    2 operations"},  // a done one breaks it
  {"E0E0E0E0E0E0EAHKDkTtE0E0E0E0E0E0E0E0E0E0E0E0", "    no answer                              18\n"},
  {"EAHKDLEAHKDkTt",       "  done after retries         1 (1 retry)\n"},
  {"OEAHKDkTt",            "ports that failed to open: 1\n"},
  {"OEAHKDkTt",            "failed attempts by cause   none\n"},  // and no cause named
  {"EAHKDkTtEA",           "operations: 2, 1 of them with an outcome the log does not show\n"},
  {"kTtEAHKDkTt",          "with an outcome the log does not show (1 for no known PLC)"},
  {"ENENENENEN",           "  refused or failed at       V40000\n"},
  {"FaG",                  "PLC FF: 1 operation\n"},
  {"EeyAHjKDkKTt",         "the line echoes (a two-wire RS-485 converter): 1 operation set the echo aside, no failure"},
};
// A text from outside (a title, a file or port name) | as a JSON string | in a page or
// picture | on a terminal: valid UTF-8 (U+FFFD for what is not), no control character.
#define FFFD "\xEF\xBF\xBD"
const struct { const char *text, *json, *markup, *terminal; } kTexts[] = {
  {"Site <A> & \"B\"\\", "\"Site <A> & \\\"B\\\"\\\\\"", "Site &lt;A&gt; &amp; \"B\"\\", "Site <A> & \"B\"\\"},
  {"a\x01\x1B[31m\n\x7F\xC2\x9B", "\"a\\u0001\\u001B[31m\\u000A\\u007F\\u009B\"", "a\\x01\\x1B[31m\\x0A\\x7F\\x9B", "a\\x01\\x1B[31m\\x0A\\x7F\\x9B"},
  {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
  // a Latin-1 byte, a stray continuation, an overlong '/', a surrogate, above U+10FFFF, cut short
  {"\xFF\x80\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82", "\"" FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD "\"",
   FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD, FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD},
};
// A host's log as bytes | the lines read from it, joined by '|' (std::string for the NULs).
const struct { std::string bytes, lines; } kLogFiles[] = {
  {"a\r\nb\r\r\n\nc", "a|b||c"},                                  // CR before LF dropped; the last line counts
  {std::string("a\0b\n", 4), "a?b"},                               // a NUL spoils no more than its character
  {std::string("\xFF\xFE" "a\0\n\0\xE9\0", 8), "a|?"},           // UTF-16 with its mark, as PowerShell writes
  {std::string("\xFE\xFF\0a\0\n\0", 7), "a"},                     // big-endian; half a unit at the end dropped
  {"\xFFx\n\xFE", "\xFFx|\xFE"},                                    // no mark: bytes as they are
  {std::string(kLogLineMost + 9, 'x') + "\nb", std::string(kLogLineMost, 'x') + "|b"},  // a long line keeps its start
};
// A document in steps ('o' an object, 'a' an array, 'A' one on one line, 'c' a close, 'w' 1,
// 'r' 1.5, 'i' infinity, 'b' true, 'z' null; a key "k" inside an object) | the JSON | whole.
const struct { const char *steps, *json; bool whole; } kDocuments[] = {
  {"owbzc",     "{\n  \"k\": 1,\n  \"k\": true,\n  \"k\": null\n}\n", true},
  {"oAwricc",   "{\n  \"k\": [1, 1.50, null]\n}\n",                true},
  {"aoAowcccc", "[\n  {\n    \"k\": [{\"k\": 1}]\n  }\n]\n",         true},
  {"c",         "\n",                                              false},  // a close too many
  {"o",         "{\n",                                             false},  // left open
  {"ww",        "11\n",                                            false},  // two values at the top
};
// clang-format on

// What a writer puts into a file, as text.
template <typename Write>
std::string Written(Write write) {
  FILE *f = tmpfile();
  write(f);
  std::string text(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  size_t got = fread(&text[0], 1, text.size(), f);
  fclose(f);
  return text.substr(0, got);
}

void Describe(const Operation &op, void *user) {
  std::string &out = *static_cast<std::string *>(user);
  char text[64] = "fragment";
  if (op.plc >= 0)
    snprintf(text, sizeof text, "%02X %s V%o %s/%d", op.plc, op.write ? "write" : "read",
             VMemoryAddress(op.wordAddress), kOutcomes[op.outcome].key, op.attempts);
  out += (out.empty() ? "" : "; ") + std::string(text);
  for (int c = 0; c < kCauseCount; ++c)
    if (op.causes[c]) out += " " + std::string(kCauses[c].key) + ":" + std::to_string(op.causes[c]);
}

// Feeds the log in symbols to the analyser; `out` gets a "quiet" at each '.'.
void Feed(LogAnalyzer *a, const char *log, std::string &out) {
  std::string stamp = "2026-01-01T10:00:00.000 8 ";
  for (const char *s = log; *s; ++s) {
    if (*s == '<') stamp = "2000-01-01T10:00:00.000 8 ";
    if (*s == '.') {
      AnalyzerQuiet(a);
      out += (out.empty() ? "" : "; ") + std::string("quiet");
    }
    for (const auto &symbol : kSymbols) {
      if (symbol.symbol != *s) continue;
      std::string line = symbol.line;
      bool frame = !strncmp(symbol.line, TX, strlen(TX)) || !strncmp(symbol.line, RX, strlen(RX));
      while (frame && line.size() < strlen(TX) + 3 * kTraceFields - 1) line += " 00";
      AnalyzerLine(a, (stamp + line).c_str());
    }
  }
  AnalyzerEnd(a);
}

std::string Analyse(const char *log) {
  std::string out;
  LogAnalyzer *a = AnalyzerCreate(Describe, &out);
  Feed(a, log, out);
  const LogCounts *c = AnalyzerCounts(a);
  // clang-format off
  const struct { const char *name; unsigned long n; } counts[] = {{"skipped", c->skippedLines},
    {"damaged", c->damagedLines}, {"out_of_order", c->outOfOrder}, {"open_failures", c->openFailures},
    {"echoed", c->echoed}};
  // clang-format on
  for (const auto &count : counts)
    if (count.n) out += " " + std::string(count.name) + "=" + std::to_string(count.n);
  AnalyzerDestroy(a);
  return out;
}

// The summary's text of the log in symbols.
std::string Summarised(const char *log) {
  std::string quiet;
  LogSummary *s = SummaryCreate();
  LogAnalyzer *a = AnalyzerCreate(SummaryAdd, s);
  Feed(a, log, quiet);
  std::string text = Written([&](FILE *f) { SummaryPrintText(s, AnalyzerCounts(a), f); });
  AnalyzerDestroy(a);
  SummaryDestroy(s);
  return text;
}

}  // namespace

TEST(LogSummary, WhatTheTextSays) {
  for (const auto &row : kSummaries)
    EXPECT_NE(Summarised(row.log).find(row.says), std::string::npos) << row.log << ": " << row.says;
}

TEST(TraceLine, KindsFieldsAndCauses) {
  for (const auto &row : kLines) {
    TraceLine t = ReadTraceLine(row.line);
    EXPECT_EQ(t.kind, row.kind) << row.line;
    EXPECT_EQ(t.damaged, row.damaged) << row.line;
    EXPECT_EQ(t.cause, row.cause) << row.line;
    if (row.first || row.last) {
      EXPECT_EQ(t.bytes[0], row.first) << row.line;
      EXPECT_EQ(t.bytes[16], row.last) << row.line;
    }
  }
  EXPECT_STREQ(OpenFailedPort(ReadTraceLine("x ORVEN: Failed to open COM9")), "COM9");
}

TEST(LogTime, StampsReadAndWrittenBack) {
  for (const auto &row : kStamps) {
    double ms = 0;
    bool dated = false;
    char shown[40] = "";
    if (FindLogTime(row.text, row.text + strlen(row.text), &ms, &dated))
      FormatLogTime(ms, dated, shown, sizeof shown);
    EXPECT_STREQ(shown, row.shown) << row.text;
    EXPECT_EQ(dated, row.dated) << row.text;
  }
}

TEST(LogAnalysis, OperationsAttemptsAndCauses) {
  for (const auto &row : kLogs) EXPECT_EQ(Analyse(row.log), row.analysis) << row.log;
}

// Valid UTF-8 goes through unchanged.
bool AsItIs(FILE *, unsigned) { return false; }

TEST(CleanText, JsonPageAndTerminalGetValidUtf8) {
  for (const auto &row : kTexts) {
    std::string once = Written([&](FILE *f) { WriteCleanText(f, row.text, AsItIs); });
    EXPECT_EQ(Written([&](FILE *f) { WriteCleanText(f, once.c_str(), AsItIs); }), once);
#ifdef _WIN32
    // Windows reads a stray byte in its code page, whichever that is.
    if (strstr(row.json, FFFD)) continue;
#endif
    EXPECT_EQ(Written([&](FILE *f) {
                JsonWriter j;
                JsonStart(&j, f);
                JsonString(&j, nullptr, row.text);
                EXPECT_TRUE(JsonFinish(&j));
              }),
              std::string(row.json) + "\n")
        << row.text;
    EXPECT_EQ(Written([&](FILE *f) { WriteEscaped(f, row.text); }), row.markup) << row.text;
    EXPECT_EQ(Written([&](FILE *f) { WriteCleanText(f, row.text, EscapeControl); }), row.terminal)
        << row.text;
  }
}

TEST(LogReader, LinesAsTheAnalyserGetsThem) {
  std::string path = testing::TempDir() + "log_reader_rows.log";
  for (const auto &row : kLogFiles) {
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(row.bytes.data(), 1, row.bytes.size(), f);
    fclose(f);
    const char *reason = nullptr, *line = nullptr;
    LogReader *r = ReaderOpen(path.c_str(), false, &reason);
    ASSERT_NE(r, nullptr) << reason;
    std::string lines;
    for (int n = 0; ReaderNext(r, &line) == kLogLine; ++n)
      lines += (n ? "|" : "") + std::string(line);
    ReaderClose(r);
    EXPECT_EQ(lines, row.lines) << row.bytes.substr(0, 20);
  }
  remove(path.c_str());
}

TEST(JsonWriter, LayoutAndMisuse) {
  for (const auto &row : kDocuments) {
    bool whole = false;
    std::string json = Written([&](FILE *f) {
      JsonWriter j;
      JsonStart(&j, f);
      for (const char *step = row.steps; *step; ++step) {
        const char *key = j.depth > 0 && j.isObject[j.depth - 1] ? "k" : nullptr;
        if (*step == 'o') JsonOpenObject(&j, key);
        if (*step == 'a' || *step == 'A')
          JsonOpenArray(&j, key, *step == 'A' ? kJsonOneLine : kJsonLines);
        if (*step == 'c') JsonClose(&j);
        if (*step == 'w') JsonWhole(&j, key, 1);
        if (*step == 'r' || *step == 'i') JsonReal(&j, key, *step == 'r' ? 1.5 : INFINITY, 2);
        if (*step == 'b') JsonBool(&j, key, true);
        if (*step == 'z') JsonNull(&j, key);
      }
      whole = JsonFinish(&j);
    });
    EXPECT_EQ(json, row.json) << row.steps;
    EXPECT_EQ(whole, row.whole) << row.steps;
  }
}
