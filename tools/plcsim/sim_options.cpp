// plcsim's command line: one table of options, from which both the parsing
// and the usage text come; the line options as zubhost takes them.
#include <string.h>

#include "sim_tool.h"

namespace {

// What the options set: the simulator, and the options the caller gets back.
struct Settings {
  Sim *sim;
  SimOptions o;
  const char *load;
  bool anyStation, help;
  const char *spoiled[kFrameKinds];  // each frame's --spoil, as given
} settings;

bool Station(const char *text) {
  int v;
  if (!SimParseStation("--station", text, &v)) return false;
  if (SimMemory(settings.sim, v)) {
    Mistake("--station %02X is given twice", v);
    return false;
  }
  SimAddStation(settings.sim, v);
  settings.anyStation = true;
  return true;
}

bool Fault(const char *value) {
  char name[64];
  snprintf(name, sizeof name, "%s", value);
  long count = -1;
  char *colon = strchr(name, ':');
  if (colon) *colon = 0;
  int kind = SimFaultByName(name);
  if (kind == kFaultNone) {
    char names[256];
    SimNameList(names, sizeof names, 1, kFaultKinds, SimFaultName);
    Mistake("--fault takes one of:%s, with :COUNT for the next COUNT chances (not \"%s\")", names,
            value);
    return false;
  }
  if (colon && !ParseWhole("--fault NAME:COUNT", colon + 1, 1, 1000000, &count)) return false;
  SimSetFault(settings.sim, kind, static_cast<int>(count));
  return true;
}

// FRAME:HOW[:COUNT], as the spoil command takes FRAME HOW [COUNT].
bool Spoil(const char *value) {
  char text[64];
  snprintf(text, sizeof text, "%s", value);
  char *how = strchr(text, ':');
  char *count = how ? strchr(how + 1, ':') : nullptr;
  if (how) {
    *how = 0;
    ++how;
  }
  if (count) {
    *count = 0;
    ++count;
  }
  int frame, kind, amount;
  long n = -1;
  if (!how) {
    Mistake("--spoil takes FRAME:HOW[:COUNT] (not \"%s\")", value);
    return false;
  }
  if (!SimParseSpoil(text, how, &frame, &kind, &amount)) return false;
  if (count && !ParseWhole("--spoil FRAME:HOW:COUNT", count, 1, 1000000, &n)) return false;
  // A frame is spoiled one way at a time: a second would replace the first.
  if (settings.spoiled[frame]) {
    Mistake("--spoil %s and --spoil %s spoil one frame; give one of them", settings.spoiled[frame],
            value);
    return false;
  }
  settings.spoiled[frame] = value;
  SimSetSpoil(settings.sim, frame, kind, amount, static_cast<int>(n));
  return true;
}

bool Seed(const char *v) {
  long seed;
  if (!ParseWhole("--seed", v, 0, 2147483647, &seed)) return false;
  SimSetSeed(settings.sim, static_cast<uint32_t>(seed));
  return true;
}

bool Delay(const char *v) {
  unsigned ms;
  if (!ParseWhole("--delay", v, 0, kSimDelayMost, &ms)) return false;
  SimSetDelay(settings.sim, ms);
  return true;
}

bool Stop(const char *v) { return ParseStopBits("--stop", v, &settings.o.stopBits); }
bool Parity(const char *v) {
  settings.o.parityGiven = true;
  return ParseParity("--parity", v, &settings.o.parity);
}

// clang-format off
const Option kOptions[] = {
  {"--port",    "COMn",         kWindowsOnly, Text(&settings.o.port),    "the COM port the driver's line comes in on"},
  {"--link",    "PATH",         kLinuxOnly,   Text(&settings.o.link),    "a link at PATH to the pty (PREFIX/dosdevices/com7: COM7 in Wine)"},
  {"--tty",     "PATH",         kLinuxOnly,   Text(&settings.o.tty),     "play on the tty at PATH instead of a pty"},
  {"--control", "FIFO",         kLinuxOnly,   Text(&settings.o.control), "take control commands on FIFO"},
  {"--station", "HEX",          kAnyPlatform, Custom(Station),           "play this station, 01 to FF (again for more; default 01)"},
  {"--load",    "FILE",         kAnyPlatform, Text(&settings.load),      "memory from FILE: lines of station, octal address, value"},
  {"--fault",   "NAME[:COUNT]", kAnyPlatform, Custom(Fault),             "inject a fault, every time or the next COUNT chances (again for more)"},
  {"--spoil",   "FRAME:HOW[:COUNT]", kAnyPlatform, Custom(Spoil),        "spoil a frame on the line, every time or the next COUNT chances (again for more)"},
  {"--seed",    "N",            kAnyPlatform, Custom(Seed),              "where the spoils' random bytes and places come from (default 1)"},
  {"--delay",   "MS",           kAnyPlatform, Custom(Delay),             "how late the delay fault answers (default 2000)"},
  {"--baud",    "N",            kAnyPlatform, Whole(&settings.o.baud, 110, 1000000),  "pace the line at N baud, 110 to 1000000 (frames the driver sends at another speed are noise)"},
  {"--latency", "MS",           kAnyPlatform, Whole(&settings.o.latencyMs, 0, 1000),  "what it sends waits for the next tick of MS, as in a USB adapter"},
  {"--data",    "N",            kAnyPlatform, Whole(&settings.o.dataBits, kDataBitsLow, kDataBitsHigh), "data bits, 5 to 8 (default 8)"},
  {"--stop",    "1|1.5|2",      kAnyPlatform, Custom(Stop),              "stop bits: one, one and a half, two (default 1)"},
  {"--parity",  "P",            kAnyPlatform, Custom(Parity),            "none, odd, even, mark or space (default odd)"},
  {"--echo",    nullptr,        kAnyPlatform, Flag(&settings.o.echo),    "send back every byte the master sends, then answer, as an RS-485 converter does"},
  {"--quiet",   nullptr,        kAnyPlatform, Flag(&settings.o.quiet),   "log no frames or faults"},
  {"--help",    nullptr,        kAnyPlatform, Flag(&settings.help),      "this text"},
};
// clang-format on
constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

}  // namespace

void SimUsage(FILE *to, bool windows) {
  fprintf(to, "usage: plcsim%s [options]\noptions:\n", windows ? ".exe --port COMn" : "");
  PrintOptions(to, kOptions, kOptionCount, windows, 2);
  PrintRepeatedOptionRule(to);
  fprintf(to, "control commands, one a line, on %s:\n",
          windows ? "standard input" : "the --control FIFO");
  SimPrintCommands(to);
  fprintf(to, "faults:");
  for (int k = 1; k < kFaultKinds; ++k) fprintf(to, " %s", SimFaultName(k));
  fprintf(to, "\nspoil frames:");
  for (int f = 0; f < kFrameKinds; ++f) fprintf(to, " %s", SimFrameName(f));
  char spoils[160];
  SimSpoilList(spoils, sizeof spoils);
  fprintf(to, "\nspoils: %s (K 1 to %d, MS 0 to %d)\n(an echo, with --echo: lose or change)\n",
          spoils, kSpoilJunkMost, kSpoilLateMost);
}

bool SimParseOptions(int argc, char **argv, Sim *sim, SimOptions *out, bool windows) {
  SetToolName("plcsim");
  settings = Settings{sim, *out};
  Settings &s = settings;
  int next = 1;
  const char *elsewhere = windows
                              ? "plcsim.exe takes --port COMn and its commands on standard input"
                              : "here use --link or --tty";
  if (!ParseOptions(kOptions, kOptionCount, windows, elsewhere, argc, argv, &next)) return false;
  if (next < argc) {
    UnknownOption(argv[next]);
    return false;
  }
  if (s.help) {
    SimUsage(stdout, windows);
    out->help = true;
    return false;
  }
  if (windows && !s.o.port) {
    Mistake("plcsim.exe needs --port COMn, the port the driver's line comes in on");
    return false;
  }
  if (s.load && !SimLoad(sim, s.load)) return false;
  if (!s.anyStation && !s.load) SimAddStation(sim, 1);
  *out = s.o;
  return true;
}
