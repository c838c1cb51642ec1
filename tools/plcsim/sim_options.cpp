// plcsim's command line: one table of options, from which both the parsing
// and the usage text come; the line options as zubhost takes them.
#include <stdlib.h>
#include <string.h>

#include "sim_tool.h"

namespace {

// What the options set: the simulator, and the options the caller gets back.
struct Settings {
  Sim *sim;
  SimOptions o;
  const char *load;
  bool anyStation, help;
} settings;

bool Station(void *, const char *text) {
  char *end = nullptr;
  long v = strtol(text, &end, 16);
  if (!*text || *end || v < 1 || v > 255)
    return Mistake("--station takes a PLC number in hexadecimal, 01 to FF (not \"%s\")", text);
  SimAddStation(settings.sim, static_cast<int>(v));
  settings.anyStation = true;
  return true;
}

bool Fault(void *, const char *value) {
  char name[64];
  snprintf(name, sizeof name, "%s", value);
  long count = -1;
  char *colon = strchr(name, ':');
  if (colon) *colon = 0;
  int kind = SimFaultByName(name);
  if (kind == kFaultNone) {
    fprintf(stderr, "plcsim: --fault takes one of:");
    for (int k = 1; k < kFaultKinds; ++k) fprintf(stderr, " %s", SimFaultName(k));
    fprintf(stderr, ", with :COUNT for the next COUNT chances (not \"%s\")\n", value);
    return false;
  }
  if (colon && !ParseWhole("--fault NAME:COUNT", colon + 1, 1, 1000000, &count)) return false;
  SimSetFault(settings.sim, kind, static_cast<int>(count));
  return true;
}

bool Delay(void *, const char *v) {
  unsigned ms;
  if (!ParseWhole("--delay", v, 0, 60000, &ms)) return false;
  SimSetDelay(settings.sim, ms);
  return true;
}

bool Baud(void *, const char *v) { return ParseWhole("--baud", v, 110, 1000000, &settings.o.baud); }
bool Latency(void *, const char *v) {
  return ParseWhole("--latency", v, 0, 1000, &settings.o.latencyMs);
}
bool Data(void *, const char *v) {
  return ParseWhole("--data", v, kDataBitsLow, kDataBitsHigh, &settings.o.dataBits);
}
bool Stop(void *, const char *v) { return ParseStopBits("--stop", v, &settings.o.stopBits); }
bool Parity(void *, const char *v) { return ParseParity("--parity", v, &settings.o.parity); }

// clang-format off
const Option kOptions[] = {
  {"--port",    "COMn",         kWindowsOnly, TakeText, "the COM port the driver's line comes in on", &settings.o.port},
  {"--link",    "PATH",         kLinuxOnly,   TakeText, "a link at PATH to the pty (PREFIX/dosdevices/com7: COM7 in Wine)", &settings.o.link},
  {"--tty",     "PATH",         kLinuxOnly,   TakeText, "play on the tty at PATH instead of a pty", &settings.o.tty},
  {"--control", "FIFO",         kLinuxOnly,   TakeText, "take control commands on FIFO", &settings.o.control},
  {"--station", "HEX",          kAnyPlatform, Station,  "play this station, 01 to FF (again for more; default 01)"},
  {"--load",    "FILE",         kAnyPlatform, TakeText, "memory from FILE: lines of station, octal address, value", &settings.load},
  {"--fault",   "NAME[:COUNT]", kAnyPlatform, Fault,    "inject a fault, every time or the next COUNT chances"},
  {"--delay",   "MS",           kAnyPlatform, Delay,    "how late the delay fault answers (default 2000)"},
  {"--baud",    "N",            kAnyPlatform, Baud,     "pace the line at N baud, 110 to 1000000 (a pty: frames the driver sends at another speed are noise)"},
  {"--latency", "MS",           kAnyPlatform, Latency,  "what it sends waits for the next tick of MS, as in a USB adapter"},
  {"--data",    "N",            kAnyPlatform, Data,     "data bits, 5 to 8 (default 8)"},
  {"--stop",    "1|1.5|2",      kAnyPlatform, Stop,     "stop bits: one, one and a half, two (default 1)"},
  {"--parity",  "P",            kAnyPlatform, Parity,   "none, odd, even, mark or space (default odd)"},
  {"--echo",    nullptr,        kAnyPlatform, SetFlag,  "send back every byte instead of answering", &settings.o.echo},
  {"--quiet",   nullptr,        kAnyPlatform, SetFlag,  "log no frames or faults", &settings.o.quiet},
  {"--help",    nullptr,        kAnyPlatform, SetFlag,  "this text", &settings.help},
};
// clang-format on
constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

}  // namespace

void SimUsage(FILE *to, bool windows) {
  fprintf(to, "usage: plcsim%s [options]\noptions:\n", windows ? ".exe --port COMn" : "");
  PrintOptions(to, kOptions, kOptionCount, windows);
  fprintf(to, "control commands, one a line, on %s:\n",
          windows ? "standard input" : "the --control FIFO");
  fprintf(to,
          "  fault NAME COUNT [STATION], clear, delay MS, set ADDRESS VALUE, dump ADDRESS COUNT,\n"
          "  stats, quit   (ADDRESS: PLC and octal, as 0140000)\n"
          "faults:");
  for (int k = 1; k < kFaultKinds; ++k) fprintf(to, " %s", SimFaultName(k));
  fprintf(to, "\n");
}

bool SimParseOptions(int argc, char **argv, Sim *sim, SimOptions *out, bool windows) {
  SetToolName("plcsim");
  Settings &s = settings = Settings{sim, *out};
  int next = 1;
  const char *elsewhere = windows
                              ? "plcsim.exe takes --port COMn and its commands on standard input"
                              : "here use --link or --tty";
  if (!ParseOptions(kOptions, kOptionCount, windows, elsewhere, argc, argv, &next, nullptr))
    return false;
  if (next < argc) return Mistake("unknown option %s (plcsim --help lists them)", argv[next]);
  if (s.help) {
    SimUsage(stdout, windows);
    exit(0);
  }
  if (windows && !s.o.port)
    return Mistake("plcsim.exe needs --port COMn, the port the driver's line comes in on");
  if (s.load && SimLoadFile(sim, s.load) < 0) return Mistake("--load cannot read \"%s\"", s.load);
  if (!s.anyStation && !s.load) SimAddStation(sim, 1);
  *out = s.o;
  return true;
}
