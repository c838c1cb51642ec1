// zubhost's options: one table, from which both the parsing and the usage text come.
#include "commands.h"

namespace {

constexpr long kBaudLow = 110, kBaudHigh = 65535;  // the driver's baud rate is 16 bits
constexpr long kTimeoutHigh = 100000;              // units of 10 ms: about 17 minutes

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

bool Port(const char *v) {
  if (*v && strlen(v) < sizeof host.settings.port) {
    snprintf(host.settings.port, sizeof host.settings.port, "%s", v);
    return true;
  }
  if (!kWindows && v[0] == '/')
    Mistake("--port takes a COM name; to open %s, give it one: --map COM5=%s --port COM5", v, v);
  else
    Mistake("--port takes a device name of at most %u characters (not \"%s\")",
            static_cast<unsigned>(sizeof host.settings.port - 1), v);
  return false;
}

bool Map(const char *v) {
  const char *eq = strchr(v, '=');
  // Neither side may be empty: "COM5=" would open the current folder, "=PATH" no port.
  if (!eq || eq == v || !eq[1]) {
    Mistake("--map takes NAME=PATH, such as COM5=/dev/pts/3 (not \"%s\")", v);
    return false;
  }
  char name[LUMISAR_DEVICE_NAME_SIZE];
  size_t n = static_cast<size_t>(eq - v);
  if (n >= sizeof name) {
    Mistake("--map takes a NAME of at most %u characters, as --port does (not \"%.*s\")",
            static_cast<unsigned>(sizeof name - 1), static_cast<int>(n), v);
    return false;
  }
  memcpy(name, v, n);
  name[n] = 0;
  return MapDevice(name, eq + 1);
}

SerialSettings &line = host.settings.line;
bool Stop(const char *v) { return ParseStopBits("--stop", v, &line.stopBits); }
bool Parity(const char *v) { return ParseParity("--parity", v, &line.parity); }

// A limit given is kept by scan at every setting, instead of the shortest
// each speed allows.
bool Timeout(const char *v) {
  host.settings.timeoutGiven = true;
  return ParseWhole("--timeout", v, 0, kTimeoutHigh, &host.settings.timeout);
}

// clang-format off
const Option kOptions[] = {
  {"--port",     "NAME",      kAnyPlatform, Custom(Port),                                       "serial device: COM1..COM9, \\\\.\\COM10 and up, NUL (default COM1)"},
  {"--map",      "NAME=PATH", kLinuxOnly,   Custom(Map),                                        "let NAME open the tty or pty at PATH (again for more)"},
  {"--baud",     "N",         kAnyPlatform, Whole(&line.baudRate, kBaudLow, kBaudHigh),         "line speed, 110 to 65535 (default 19200)"},
  {"--data",     "N",         kAnyPlatform, Whole(&line.dataBits, kDataBitsLow, kDataBitsHigh), "data bits, 5 to 8 (default 8)"},
  {"--stop",     "1|1.5|2",   kAnyPlatform, Custom(Stop),                                       "stop bits: one, one and a half, two (default 1)"},
  {"--parity",   "P",         kAnyPlatform, Custom(Parity),                                     "none, odd, even, mark or space (default odd)"},
  {"--timeout",  "UNITS",     kAnyPlatform, Custom(Timeout),                                    "reply time limit in units of 10 ms, 0 to 100000 (default 100)"},
  {"--log",      nullptr,     kAnyPlatform, Flag(&host.showLog),                                "print every line the driver logs"},
  {"--log-file", "FILE",      kAnyPlatform, Text(&host.logFileName),                            "append every line the driver logs, time-stamped, to FILE"},
  {"--decode",   nullptr,     kAnyPlatform, Flag(&host.decode),                                 "print traced frames decoded into their fields"},
  {"--version",  nullptr,     kAnyPlatform, Flag(&host.version),                                "the versions of zubhost and of the LUMISAR.DLL it loads"},
  {"--help",     nullptr,     kAnyPlatform, Flag(&host.help),                                   "this text"},
};
// clang-format on

}  // namespace

int TakeHostOption(int argc, char **argv, int k) {
  return TakeOption(kOptions, sizeof kOptions / sizeof kOptions[0], kWindows,
                    "zubhost.exe opens COM ports by their Windows names", argc, argv, k);
}

void PrintHostOptions(FILE *to) {
  PrintOptions(to, kOptions, sizeof kOptions / sizeof kOptions[0], kWindows, 2);
}
