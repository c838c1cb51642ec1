// scan: finds the controllers on a line and the settings they answer at.
// At each line setting it reads V0 of every station in turn, through the
// driver as any host would: operation 1 opens the port at the first
// setting, 11 closes it and 15 opens it again at each next one, 3 resolves
// the station's V0 and 5 reads it. A station that answers is there, even
// when it refuses; only "no good exchange" means nobody is.
#include <math.h>

#include "clean_text.h"
#include "commands.h"
#include "json_writer.h"
#include "port/serial_line.h"
#include "protocol/frames.h"
#include "protocol/protocol_facts.h"
#include "trace_line.h"

namespace {

constexpr int kMostBauds = 8, kMostParities = 5;
constexpr int kMostSettings = kMostBauds * kMostParities;
// The longest reply a read of one word waits for: the data frame, STX, two
// bytes, ETX and the check byte; and the time a controller and the PC's
// serial stack take to turn round, on top of the wire.
constexpr int kLongestReply = kFrameOverhead + 2;
constexpr double kTurnRoundMs = 20;

struct Setting {
  SerialSettings line;
  uint32_t limit;  // reply time limit, units of 10 ms
  bool available;
  int answered;
  double ms;
  // Stations where bytes came but no good answer, and stations whose
  // enquiry came back as it was sent (the driver sets such an echo aside
  // and reads the answer behind it). Bytes without an answer are late
  // when the first such station, asked again with a longer limit, answers;
  // garbled when it does not: only asking again tells the two apart, since
  // a late answer out of step with the attempts looks garbled too.
  int unclear, late, garbled, echoed;
  int firstUnclear;    // the first station whose bytes made no answer
  uint32_t suggested;  // a limit that heard it, units of 10 ms; 0 for none
};

// What came back during one probe, as the driver traced it.
struct Heard {
  uint8_t enquiry[3];  // the last enquiry sent
  bool acknowledge, other, echo;
  bool spoiled;  // the driver found a reply that came wrong
} heard;

// Reads the driver's traces of one probe. A receive traces the reply
// buffer, zeros where nothing came: any other byte came from the line.
void Watch(const char *line) {
  TraceLine t = ReadTraceLine(line);
  if (t.damaged) return;
  if (t.kind == kTraceSent && IsEnquiry(t.bytes)) memcpy(heard.enquiry, t.bytes, 3);
  // Of the diagnostics a read writes, only "No EOT" is a reply that did not
  // come in time; the others judge bytes that came.
  if (t.kind == kTraceDiagnostic && t.cause != kCauseCount && t.cause != kCauseNoEot)
    heard.spoiled = true;
  if (t.kind == kTraceEcho) heard.echo = true;
  if (t.kind != kTraceReceived) return;
  bool any = false;
  for (uint8_t b : t.bytes) any = any || b != 0;
  if (!any) return;
  // A controller never sends ENQ: its own enquiry came back, an echo.
  if (memcmp(t.bytes, heard.enquiry, 3) == 0)
    heard.echo = true;
  else if (t.bytes[0] == kEnquiryStart && t.bytes[1] == heard.enquiry[1] && t.bytes[2] == ACK)
    heard.acknowledge = true;
  else
    heard.other = true;
}

struct Scan {
  int first, last;
  uint16_t bauds[kMostBauds];
  unsigned parities[kMostParities];
  int baudCount, parityCount;
  bool all, json;
  Setting settings[kMostSettings];
  int settingCount;
  int32_t answers[kMostSettings][256];  // LUMISAR_FAILED: nobody
  double startMs;
} scan;

bool Stations(const char *v) {
  char copy[16] = "";
  if (strlen(v) < sizeof copy) snprintf(copy, sizeof copy, "%s", v);
  char *dash = strchr(copy, '-');
  if (dash) *dash = 0;
  long long first = 0, last = 0;
  if (dash && ReadHexadecimal(copy, &first) && ReadHexadecimal(dash + 1, &last) && first >= 1 &&
      first <= last && last <= 255) {
    scan.first = static_cast<int>(first);
    scan.last = static_cast<int>(last);
    return true;
  }
  Mistake("--stations takes FIRST-LAST in hexadecimal, 01 to FF (not \"%s\")", v);
  return false;
}

// Calls take(item) for each of at most `most` items of "A,B,C"; false at
// the first it refuses. An empty list would scan nothing and look like a
// line where nobody answers; the shared reader refuses it.
template <typename Take>
bool EachItem(const char *option, const char *example, const char *list, int most, Take take) {
  int n = 0;
  return EachListItem(option, example, list, [&](const char *item) {
    if (n < most) {
      n += 1;
      return take(item);
    }
    Mistake("%s takes at most %d values (not \"%.60s\")", option, most, list);
    return false;
  });
}

bool Bauds(const char *v) {
  scan.baudCount = 0;
  return EachItem("--bauds", "19200,9600", v, kMostBauds, [&](const char *item) {
    uint16_t &baud = scan.bauds[scan.baudCount];
    scan.baudCount += 1;
    return ParseWhole("--bauds", item, 110, 65535, &baud);
  });
}

bool Parities(const char *v) {
  scan.parityCount = 0;
  return EachItem("--parities", "odd,none", v, kMostParities, [&](const char *item) {
    unsigned &parity = scan.parities[scan.parityCount];
    scan.parityCount += 1;
    return ParseParity("--parities", item, &parity);
  });
}

// clang-format off
const Option kScanOptions[] = {
  {"--stations", "FIRST-LAST", kAnyPlatform, Custom(Stations), "stations to try, hexadecimal", "1-5A"},
  {"--bauds",    "LIST",       kAnyPlatform, Custom(Bauds),    "speeds to try",                "19200,9600"},
  {"--parities", "LIST",       kAnyPlatform, Custom(Parities), "parities to try",              "odd,none,even"},
  {"--all",      nullptr,      kAnyPlatform, Flag(&scan.all),  "try every setting, not only up to the first that answers"},
  {"--json",     nullptr,      kAnyPlatform, Flag(&scan.json), "the result as JSON"},
};
// clang-format on

// The shortest reply time limit the line's speed allows: the longest
// reply's wire time and the turn-round, in whole units of 10 ms.
uint32_t ShortestLimit(const SerialSettings &line) {
  double ms = kLongestReply * SerialCharMicros(line) / 1000.0 + kTurnRoundMs;
  return static_cast<uint32_t>(ceil(ms / 10));
}

void PlanSettings(Scan &s) {
  for (int b = 0; b < s.baudCount; ++b) {
    for (int p = 0; p < s.parityCount; ++p) {
      Setting &t = s.settings[s.settingCount];
      s.settingCount += 1;
      t = Setting{{s.bauds[b], host.settings.line.dataBits, host.settings.line.stopBits,
                   static_cast<uint16_t>(s.parities[p])}};
      t.limit = host.settings.timeoutGiven ? host.settings.timeout : ShortestLimit(t.line);
    }
  }
}

// Opens the port at the setting: operation 1 the first time, then a close
// and operation 15, as a host changes a channel's settings.
bool UseSetting(const Setting &t, bool first) {
  if (host.channelOpen) Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  int32_t result;
  if (first) {
    result = OpenPortAt(t.line, t.limit);
  } else {
    ReconfigureRequest r = {};
    snprintf(r.deviceName, sizeof r.deviceName, "%s", host.settings.port);
    r.replyTimeout = t.limit;
    r.settings = t.line;
    result = Call(LUMISAR_OP_RECONFIGURE_PORT, &r);
  }
  host.channelOpen = result == LUMISAR_DONE;
  return host.channelOpen;
}

// A read of the station's V0: 0 or 1 when it answered, 2 when nobody did.
// An echo is nobody's answer: the driver sets it aside, and a station
// behind it answers as on any line.
int32_t Probe(Setting &t, int station) {
  char text[8];
  snprintf(text, sizeof text, "%02X00000", station);
  uint8_t values[4] = {};
  IoRequest io;
  if (PrepareIo(&io, text, LUMISAR_TYPE_WORD0, false, 1, values) != LUMISAR_DONE)
    return LUMISAR_FAILED;
  heard = Heard{};
  host.watch = Watch;
  int32_t result = Call(LUMISAR_OP_SINGLE_READ, &io);
  host.watch = nullptr;
  if (heard.echo) t.echoed++;
  bool bytes = heard.acknowledge || heard.other || heard.spoiled;
  if (result == LUMISAR_FAILED && bytes) {
    if (t.unclear == 0) t.firstUnclear = station;
    t.unclear++;
  }
  return result;
}

int Found(const Scan &s, int settings) {
  int n = 0;
  for (int k = 0; k < settings; ++k) n += s.settings[k].answered;
  return n;
}

// On a terminal: where the scan is, and the most time it can still take,
// every station left being absent. One line, redrawn after a carriage
// return and no escape sequence, which a Windows console prints as text
// outside its virtual terminal mode; within 79 columns, since a console 80
// wide wraps a longer line and the return then redraws only its tail.
constexpr int kProgressWidth = 79;
void Progress(const Scan &s, int k, int station) {
  if (!ErrorsToTerminal()) return;
  const Setting &t = s.settings[k];
  int stations = s.last - s.first + 1, done = station - s.first;
  int left = stations - done + stations * (s.settingCount - k - 1);
  int seconds = static_cast<int>(left * kAttempts * t.limit / 100.0);
  char bar[21];
  for (int i = 0; i < 20; ++i) bar[i] = i < done * 20 / stations ? '#' : '.';
  bar[20] = 0;
  char text[kProgressWidth + 1];
  // The most time left as minutes:seconds; a count beyond the width is cut.
  int n = snprintf(text, sizeof text, "%5u baud %-5s [%s] station %02X  found %d  %d:%02d left",
                   t.line.baudRate, ParityWords(t.line.parity), bar, station, Found(s, k + 1),
                   seconds / 60, seconds % 60);
  if (n < 0) return;
  fprintf(stderr, "\r%-*s", kProgressWidth, text);
  fflush(stderr);
}

// The longest limit the scan suggests: beyond the longest latency timer a
// USB adapter can be set to (255 ms) and the slowest line's wire time.
constexpr uint32_t kMostSuggestedLimit = 255;

// A station whose bytes made no answer is asked again, the limit doubled
// each time, until it answers. The limit suggested is twice the one that
// heard it: proven on this line, with room for a busier moment. 0 when no
// limit up to the most heard it.
uint32_t LimitThatHears(const Setting &t, int station) {
  Setting again = t;
  for (again.limit = t.limit * 2; again.limit * 2 <= kMostSuggestedLimit; again.limit *= 2) {
    if (!UseSetting(again, false)) return 0;
    if (Probe(again, station) != LUMISAR_FAILED) return again.limit * 2;
  }
  return 0;
}

void ScanSetting(Scan &s, int k) {
  Setting &t = s.settings[k];
  double start = NowMs();
  for (int station = 0; station < 256; ++station) s.answers[k][station] = LUMISAR_FAILED;
  t.available = UseSetting(t, k == 0);
  for (int station = s.first; t.available && station <= s.last; ++station) {
    Progress(s, k, station);
    s.answers[k][station] = Probe(t, station);
    t.answered += s.answers[k][station] != LUMISAR_FAILED;
  }
  if (t.unclear) t.suggested = LimitThatHears(t, t.firstUnclear);
  if (t.suggested)
    t.late = t.unclear;
  else
    t.garbled = t.unclear;
  t.ms = NowMs() - start;
  if (ErrorsToTerminal()) fprintf(stderr, "\r%*s\r", kProgressWidth, "");
}

// Calls put(station, line, answer words, index) for each station found.
template <typename Put>
int EachFound(const Scan &s, int tried, Put put) {
  int n = 0;
  for (int k = 0; k < tried; ++k)
    for (int station = s.first; station <= s.last; ++station)
      if (s.answers[k][station] != LUMISAR_FAILED) {
        put(station, s.settings[k].line, s.answers[k][station] == LUMISAR_DONE ? "done" : "refused",
            n);
        n += 1;
      }
  return n;
}

// What a setting heard that made no station, in words, with what to try.
void PrintHeard(const Setting &t) {
  unsigned baud = t.line.baudRate;
  const char *parity = ParityWords(t.line.parity);
  if (t.late)
    printf(
        "  something answers at %u baud, parity %s, later than the %u ms limit: try --timeout %u\n",
        baud, parity, t.limit * 10, t.suggested);
  if (t.garbled)
    printf(
        "  bytes come at %u baud, parity %s, but make no answer: a controller at another "
        "speed or parity, or noise on the line\n",
        baud, parity);
}

void PrintText(const Scan &s, int tried, bool anyAvailable) {
  // A port that opens at no setting was named once already: no list of the
  // settings it refused one by one, and no time for a scan that never ran.
  if (!anyAvailable) {
    printf("0 stations found: no setting could be tried\n");
    return;
  }
  for (int k = 0; k < tried; ++k) {
    const Setting &t = s.settings[k];
    printf("  %5u baud, parity %s, %u data bits, stop bits %s, reply time limit %u ms: ",
           t.line.baudRate, ParityWords(t.line.parity), t.line.dataBits,
           StopBitsWords(t.line.stopBits), t.limit * 10);
    if (t.available)
      printf("%d answered (%.1f s)\n", t.answered, t.ms / 1000);
    else
      printf("not available on this port\n");
  }
  for (int k = 0; k < tried; ++k) PrintHeard(s.settings[k]);
  // A converter echoes at every setting: said once.
  bool echoes = false;
  for (int k = 0; k < tried; ++k) echoes = echoes || s.settings[k].echoed;
  if (echoes)
    printf(
        "  the line echoes (a two-wire RS-485 converter gives back what the PC sends): the "
        "driver sets the echo aside and reads the answer behind it\n");
  int found =
      EachFound(s, tried, [](int station, const SerialSettings &l, const char *answer, int n) {
        if (n == 0) printf("station  baud   data  parity  stop  answer\n");
        printf("%02X       %-5u  %-4u  %-6s  %-4s  %s\n", station, l.baudRate, l.dataBits,
               ParityWords(l.parity), StopBitsWords(l.stopBits), answer);
      });
  printf("%d station%s found in %.1f s\n", found, found == 1 ? "" : "s",
         (NowMs() - s.startMs) / 1000);
}

// The found list's records and the settings' records carry the line's
// settings in the same members.
void JsonLine(JsonWriter *j, const SerialSettings &l) {
  JsonWhole(j, "baud", l.baudRate);
  JsonWhole(j, "data_bits", l.dataBits);
  JsonString(j, "parity", ParityWords(l.parity));
  JsonString(j, "stop_bits", StopBitsWords(l.stopBits));
}

void PrintJson(const Scan &s, int tried) {
  JsonWriter j;
  JsonStart(&j, stdout);
  JsonOpenObject(&j, nullptr);
  JsonString(&j, "port", host.settings.port);
  char first[4], last[4];
  snprintf(first, sizeof first, "%02X", s.first);
  snprintf(last, sizeof last, "%02X", s.last);
  JsonOpenObject(&j, "stations", kJsonOneLine);
  JsonString(&j, "first", first);
  JsonString(&j, "last", last);
  JsonClose(&j);
  JsonOpenArray(&j, "settings");
  for (int k = 0; k < tried; ++k) {
    const Setting &t = s.settings[k];
    JsonOpenObject(&j, nullptr, kJsonOneLine);
    JsonLine(&j, t.line);
    JsonWhole(&j, "reply_time_limit_ms", t.limit * 10);
    JsonBool(&j, "available", t.available);
    JsonWhole(&j, "answered", t.answered);
    JsonWhole(&j, "late", t.late);
    JsonWhole(&j, "garbled", t.garbled);
    JsonWhole(&j, "echoed", t.echoed);
    JsonClose(&j);
  }
  JsonClose(&j);
  JsonOpenArray(&j, "found");
  EachFound(s, tried, [&j](int station, const SerialSettings &l, const char *answer, int) {
    char name[4];
    snprintf(name, sizeof name, "%02X", station);
    JsonOpenObject(&j, nullptr, kJsonOneLine);
    JsonString(&j, "station", name);
    JsonLine(&j, l);
    JsonString(&j, "answer", answer);
    JsonClose(&j);
  });
  JsonClose(&j);
  JsonReal(&j, "seconds", (NowMs() - s.startMs) / 1000, 1);
  JsonClose(&j);
  JsonFinish(&j);
}

}  // namespace

void PrintScanOptions(FILE *to) {
  PrintOptions(to, kScanOptions, sizeof kScanOptions / sizeof kScanOptions[0], false,
               kCommandOptionIndent);
}

bool CheckScan(char **args) {
  scan = Scan{};
  int argc = 0, next = 0;
  while (args[argc]) ++argc;
  size_t options = sizeof kScanOptions / sizeof kScanOptions[0];
  if (!ApplyDefaults(kScanOptions, options) ||
      !ParseOptions(kScanOptions, options, false, "", argc, args, &next))
    return false;
  if (next < argc) {
    Mistake("scan takes only its options (not \"%s\")", args[next]);
    return false;
  }
  return true;
}

int32_t ScanCommand(char **args) {
  Scan &s = scan;
  if (!CheckScan(args)) return kUsageError;
  PlanSettings(s);
  if (!s.json) {
    fputs("scan ", stdout);
    WriteCleanText(stdout, host.settings.port, EscapeControl);
    printf(
        ": stations %02X to %02X, at most %d setting%s; a station that is not there "
        "costs %d attempts of the reply time limit\n",
        s.first, s.last, s.settingCount, s.settingCount == 1 ? "" : "s", kAttempts);
  }
  fflush(stdout);
  s.startMs = NowMs();
  int tried = 0;
  while (tried < s.settingCount && (s.all || Found(s, tried) == 0)) {
    ScanSetting(s, tried);
    tried += 1;
  }
  bool anyAvailable = false;
  for (int k = 0; k < tried; ++k) anyAvailable = anyAvailable || s.settings[k].available;
  // A port that opens at no setting at all is named once, with the reason,
  // on standard error when standard output carries JSON.
  if (!anyAvailable) {
    FILE *to = s.json ? stderr : stdout;
    SayPortNotOpened(to, host.settings.port, " at any setting");
  }
  if (s.json)
    PrintJson(s, tried);
  else
    PrintText(s, tried, anyAvailable);
  return Found(s, tried) ? LUMISAR_DONE : LUMISAR_FAILED;
}
