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

bool Port(void *, const char *v) {
  if (strlen(v) < sizeof host.settings.port) {
    snprintf(host.settings.port, sizeof host.settings.port, "%s", v);
    return true;
  }
  if (!kWindows && v[0] == '/')
    return Mistake("--port takes a COM name; to open %s, give it one: --map COM5=%s --port COM5", v,
                   v);
  return Mistake("--port takes a device name of at most %u characters (not \"%s\")",
                 static_cast<unsigned>(sizeof host.settings.port - 1), v);
}

bool Map(void *, const char *v) {
  const char *eq = strchr(v, '=');
  if (!eq) return Mistake("--map takes NAME=PATH, such as COM5=/dev/pts/3 (not \"%s\")", v);
  char name[LUMISAR_DEVICE_NAME_SIZE];
  size_t n = static_cast<size_t>(eq - v);
  if (n >= sizeof name)
    return Mistake("--map takes a NAME of at most %u characters, as --port does (not \"%.*s\")",
                   static_cast<unsigned>(sizeof name - 1), static_cast<int>(n), v);
  memcpy(name, v, n);
  name[n] = 0;
  return MapDevice(name, eq + 1);
}

SerialSettings &line = host.settings.line;
bool Baud(void *, const char *v) {
  return ParseWhole("--baud", v, kBaudLow, kBaudHigh, &line.baudRate);
}
bool Data(void *, const char *v) {
  return ParseWhole("--data", v, kDataBitsLow, kDataBitsHigh, &line.dataBits);
}
bool Stop(void *, const char *v) { return ParseStopBits("--stop", v, &line.stopBits); }
bool Parity(void *, const char *v) { return ParseParity("--parity", v, &line.parity); }

bool Timeout(void *, const char *v) {
  host.settings.timeoutGiven = true;
  return ParseWhole("--timeout", v, 0, kTimeoutHigh, &host.settings.timeout);
}

bool LogFile(void *, const char *v) {
  if (host.logFile) fclose(host.logFile);
  host.logFileName = v;
  host.logFile = fopen(v, "a");
  return host.logFile || Mistake("--log-file cannot open \"%s\" for writing", v);
}

// clang-format off
const Option kOptions[] = {
  {"--port",     "NAME",      kAnyPlatform, Port,    "serial device: COM1..COM9, \\\\.\\COM10 and up, NUL (default COM1)"},
  {"--map",      "NAME=PATH", kLinuxOnly,   Map,     "let NAME open the tty or pty at PATH"},
  {"--baud",     "N",         kAnyPlatform, Baud,    "line speed, 110 to 65535 (default 19200)"},
  {"--data",     "N",         kAnyPlatform, Data,    "data bits, 5 to 8 (default 8)"},
  {"--stop",     "1|1.5|2",   kAnyPlatform, Stop,    "stop bits: one, one and a half, two (default 1)"},
  {"--parity",   "P",         kAnyPlatform, Parity,  "none, odd, even, mark or space (default odd)"},
  {"--timeout",  "UNITS",     kAnyPlatform, Timeout, "reply time limit in units of 10 ms, 0 to 100000 (default 100)"},
  {"--log",      nullptr,     kAnyPlatform, SetFlag, "print every line the driver logs", &host.showLog},
  {"--log-file", "FILE",      kAnyPlatform, LogFile, "append every line the driver logs, time-stamped, to FILE"},
  {"--decode",   nullptr,     kAnyPlatform, SetFlag, "print traced frames decoded into their fields", &host.decode},
  {"--version",  nullptr,     kAnyPlatform, SetFlag, "the versions of zubhost and of the LUMISAR.DLL it loads", &host.version},
  {"--help",     nullptr,     kAnyPlatform, SetFlag, "this text", &host.help},
};
// clang-format on

}  // namespace

int TakeHostOption(int argc, char **argv, int k) {
  return TakeOption(kOptions, sizeof kOptions / sizeof kOptions[0], kWindows,
                    "zubhost.exe opens COM ports by their Windows names", argc, argv, k, nullptr);
}

void PrintHostOptions(FILE *to) {
  PrintOptions(to, kOptions, sizeof kOptions / sizeof kOptions[0], kWindows);
}
