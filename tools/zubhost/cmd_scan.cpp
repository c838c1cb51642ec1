// scan: finds the controllers on a line and the settings they answer at.
// At each line setting it reads V0 of every station in turn, through the
// driver as any host would (operation 1 to open the port, 12 and 15 to
// change its settings, 5 to read). A station that answers is there, even
// when it refuses; only "no good exchange" means nobody is.
#include <math.h>

#include "commands.h"
#include "json_writer.h"
#include "protocol/protocol_facts.h"

namespace {

constexpr int kMostBauds = 8, kMostParities = 5;
constexpr int kMostSettings = kMostBauds * kMostParities;
// The longest reply a read of one word waits for: the data frame, STX, two
// bytes, ETX and the check byte; and the time a controller and the PC's
// serial stack take to turn round, on top of the wire.
constexpr int kLongestReply = 5;
constexpr double kTurnRoundMs = 20;

struct Setting {
  SerialSettings line;
  uint32_t limit;  // reply time limit, units of 10 ms
  bool available;
  int answered;
  double ms;
};

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

bool Stations(void *, const char *v) {
  unsigned first = 0, last = 0;
  char end = 0;
  if (sscanf(v, "%x-%x%c", &first, &last, &end) == 2 && first >= 1 && first <= last &&
      last <= 255) {
    scan.first = static_cast<int>(first);
    scan.last = static_cast<int>(last);
    return true;
  }
  return Mistake("--stations takes FIRST-LAST in hexadecimal, 01 to FF (not \"%s\")", v);
}

// Calls take(item) for each of at most `most` items of "A,B,C"; false at
// the first it refuses, or for a list with none.
template <typename Take>
bool EachItem(const char *option, const char *example, const char *list, int most, Take take) {
  char copy[256];
  if (strlen(list) >= sizeof copy)
    return Mistake("%s takes at most %d values (not \"%.40s...\")", option, most, list);
  snprintf(copy, sizeof copy, "%s", list);
  int n = 0;
  for (char *p = strtok(copy, ","); p; p = strtok(nullptr, ",")) {
    if (n++ == most) return Mistake("%s takes at most %d values (not \"%s\")", option, most, list);
    if (!take(p)) return false;
  }
  // An empty list would scan nothing and look like a line where nobody answers.
  if (n == 0)
    return Mistake("%s takes one or more values, such as %s (not \"%s\")", option, example, list);
  return true;
}

bool Bauds(void *, const char *v) {
  scan.baudCount = 0;
  return EachItem("--bauds", "19200,9600", v, kMostBauds, [&](const char *item) {
    return ParseWhole("--bauds", item, 110, 65535, &scan.bauds[scan.baudCount++]);
  });
}

bool Parities(void *, const char *v) {
  scan.parityCount = 0;
  return EachItem("--parities", "odd,none", v, kMostParities, [&](const char *item) {
    return ParseParity("--parities", item, &scan.parities[scan.parityCount++]);
  });
}

// clang-format off
const Option kScanOptions[] = {
  {"--stations", "FIRST-LAST", kAnyPlatform, Stations, "stations to try, hexadecimal (default 1-5A)"},
  {"--bauds",    "LIST",       kAnyPlatform, Bauds,    "speeds to try, such as 19200,9600 (the default)"},
  {"--parities", "LIST",       kAnyPlatform, Parities, "parities to try, such as odd,none,even (the default)"},
  {"--all",      nullptr,      kAnyPlatform, SetFlag,  "try every setting, not only up to the first that answers", &scan.all},
  {"--json",     nullptr,      kAnyPlatform, SetFlag,  "the result as JSON", &scan.json},
};
// clang-format on

// The shortest reply time limit the line's speed allows: the longest
// reply's wire time and the turn-round, in whole units of 10 ms.
uint32_t ShortestLimit(const SerialSettings &line) {
  double bits = 1 + line.dataBits + (line.parity ? 1 : 0) + (line.stopBits ? 2 : 1);
  double ms = kLongestReply * bits * 1000.0 / line.baudRate + kTurnRoundMs;
  return static_cast<uint32_t>(ceil(ms / 10));
}

void PlanSettings(Scan &s) {
  for (int b = 0; b < s.baudCount; ++b) {
    for (int p = 0; p < s.parityCount; ++p) {
      Setting &t = s.settings[s.settingCount++];
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
  if (first) return (host.channelOpen = OpenPortAt(t.line, t.limit) == LUMISAR_DONE);
  ReconfigureRequest r = {};
  snprintf(r.deviceName, sizeof r.deviceName, "%s", host.settings.port);
  r.replyTimeout = t.limit;
  r.settings = t.line;
  return (host.channelOpen = Call(LUMISAR_OP_RECONFIGURE_PORT, &r) == LUMISAR_DONE);
}

// A read of the station's V0: 0 or 1 when it answered, 2 when nobody did.
int32_t Probe(int station) {
  char text[8];
  snprintf(text, sizeof text, "%02X00000", station);
  uint8_t values[4] = {};
  IoRequest io;
  if (PrepareIo(&io, text, LUMISAR_TYPE_WORD0, false, 1, values) != LUMISAR_DONE)
    return LUMISAR_FAILED;
  return Call(LUMISAR_OP_SINGLE_READ, &io);
}

int Found(const Scan &s, int settings) {
  int n = 0;
  for (int k = 0; k < settings; ++k) n += s.settings[k].answered;
  return n;
}

const char *ParityWords(uint16_t code) { return kParityNames[code % 5]; }

// On a terminal: where the scan is, and the most time it can still take,
// every station left being absent.
void Progress(const Scan &s, int k, int station) {
  if (!ErrorsToTerminal()) return;
  const Setting &t = s.settings[k];
  int stations = s.last - s.first + 1, done = station - s.first;
  int left = stations - done + stations * (s.settingCount - k - 1);
  int seconds = static_cast<int>(left * kAttempts * t.limit / 100.0);
  char bar[21];
  for (int i = 0; i < 20; ++i) bar[i] = i < done * 20 / stations ? '#' : '.';
  bar[20] = 0;
  fprintf(stderr, "\r%5u baud %-5s [%s] station %02X  found %d  at most %d min %02d s left ",
          t.line.baudRate, ParityWords(t.line.parity), bar, station, Found(s, k + 1), seconds / 60,
          seconds % 60);
  fflush(stderr);
}

void ScanSetting(Scan &s, int k) {
  Setting &t = s.settings[k];
  double start = NowMs();
  for (int station = 0; station < 256; ++station) s.answers[k][station] = LUMISAR_FAILED;
  t.available = UseSetting(t, k == 0);
  for (int station = s.first; t.available && station <= s.last; ++station) {
    Progress(s, k, station);
    s.answers[k][station] = Probe(station);
    t.answered += s.answers[k][station] != LUMISAR_FAILED;
  }
  t.ms = NowMs() - start;
  if (ErrorsToTerminal()) fprintf(stderr, "\r%78s\r", "");
}

// Calls put(station, line, answer words, index) for each station found.
template <typename Put>
int EachFound(const Scan &s, int tried, Put put) {
  int n = 0;
  for (int k = 0; k < tried; ++k)
    for (int station = s.first; station <= s.last; ++station)
      if (s.answers[k][station] != LUMISAR_FAILED)
        put(station, s.settings[k].line, s.answers[k][station] == LUMISAR_DONE ? "done" : "refused",
            n++);
  return n;
}

void PrintText(const Scan &s, int tried) {
  for (int k = 0; k < tried; ++k) {
    const Setting &t = s.settings[k];
    printf("  %5u baud, parity %s, %u data bits, stop bits %s, reply time limit %u ms: ",
           t.line.baudRate, ParityWords(t.line.parity), t.line.dataBits,
           StopBitsWords(t.line.stopBits), t.limit * 10);
    printf(t.available ? "%d answered (%.1f s)\n" : "not available on this port\n", t.answered,
           t.ms / 1000);
  }
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

int32_t ScanCommand(char **args) {
  Scan &s = scan;
  s = Scan{1, 0x5A, {19200, 9600}, {1, 0, 2}, 2, 3};
  int argc = 0, next = 0;
  while (args[argc]) ++argc;
  if (!ParseOptions(kScanOptions, sizeof kScanOptions / sizeof kScanOptions[0], false, "", argc,
                    args, &next, nullptr))
    return kUsageError;
  if (next < argc)
    return UsageError(Mistake("scan takes only its options (not \"%s\")", args[next]));
  PlanSettings(s);
  if (!s.json)
    printf(
        "scan %s: stations %02X to %02X, at most %d settings; a station that is not there "
        "costs %d attempts of the reply time limit\n",
        host.settings.port, s.first, s.last, s.settingCount, kAttempts);
  fflush(stdout);
  s.startMs = NowMs();
  int tried = 0;
  while (tried < s.settingCount && (s.all || Found(s, tried) == 0)) ScanSetting(s, tried++);
  bool anyAvailable = false;
  for (int k = 0; k < tried; ++k) anyAvailable = anyAvailable || s.settings[k].available;
  // A port that opens at no setting at all is named once, with the reason,
  // on standard error when standard output carries JSON.
  if (!anyAvailable) {
    FILE *to = s.json ? stderr : stdout;
    fprintf(to, "open %s: the port could not be opened at any setting\n", host.settings.port);
    SayWhyOpenFailed(to, host.settings.port);
  }
  (s.json ? PrintJson : PrintText)(s, tried);
  return Found(s, tried) ? LUMISAR_DONE : LUMISAR_FAILED;
}
