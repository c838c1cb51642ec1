// zubhost: a command-line SCADA host for LUMISAR.DLL. It loads the driver
// as a host does, opens a channel and runs the commands given, in order, in
// one process. Each command lives in a file of its own; this is the table.
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "host_session.h"

namespace {

struct Command {
  const char *name;
  int arguments;  // -1: all that follow
  bool needsDriver;
  int32_t (*run)(char **args);
  const char *usage;
};

// clang-format off
const Command kCommands[] = {
  {"describe",    0, true,  DescribeCommand,   "describe                         the driver's description and banner"},
  {"resolve",     2, true,  ResolveCommand,    "resolve TEXT TYPE                TYPE: word, bit, long, float, or block:COUNT"},
  {"read",        2, true,  ReadCommand,       "read TEXT TYPE                   read one value"},
  {"write",       3, true,  WriteCommand,      "write TEXT TYPE VALUE            write one value"},
  {"read-block",  2, true,  ReadBlockCommand,  "read-block TEXT COUNT            read COUNT words (or 32-bit values: TEXT ends in L or F)"},
  {"write-block", 2, true,  WriteBlockCommand, "write-block TEXT V1,V2,...       write a block"},
  {"poll",        3, true,  PollCommand,       "poll CYCLES MS TEXT:TYPE,...     read tags every MS milliseconds, with statistics"},
  {"repeat",      3, true,  RepeatCommand,     "repeat N TEXT TYPE               read a tag N times and print the rate"},
  {"note",        1, false, NoteCommand,       "note TEXT                        print a heading"},
  {"decode",      1, false, DecodeCommand,     "decode on|off                    decode traced frames from here on"},
  {"analyze",    -1, false, AnalyzeCommand,    "analyze [--json] [--svg FILE] LOGFILE...\n"
   "                                   rebuild the operations of a driver log: a summary per PLC"},
};
// clang-format on

const char kOptions[] =
    "usage: zubhost [options] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
    "       zubhost --version\n"
    "options:\n"
    "  --port NAME         serial device: COM1..COM9, \\\\.\\COM10 and up, NUL (default COM1)\n"
    "  --map NAME=PATH     native build: let NAME open the tty or pty at PATH\n"
    "  --baud N            line speed, 110 to 57600 (default 19200)\n"
    "  --data N            data bits, 5 to 8 (default 8)\n"
    "  --stop 0|1|2        one, one and a half, two stop bits (default 0)\n"
    "  --parity P          none, odd, even, mark or space (default odd)\n"
    "  --timeout UNITS     reply time limit in units of 10 ms, 0 to 100000 (default 100)\n"
    "  --log               print every line the driver logs\n"
    "  --log-file FILE     append every line the driver logs, time-stamped, to FILE\n"
    "  --decode            print traced frames decoded into their fields\n"
    "commands:\n";

void Usage(FILE *to) {
  fputs(kOptions, to);
  for (const Command &c : kCommands) fprintf(to, "  %s\n", c.usage);
}

const Command *Find(const char *name) {
  for (const Command &c : kCommands)
    if (strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

bool ParseParity(const char *p, uint16_t *code) {
  const char *names[] = {"none", "odd", "even", "mark", "space"};
  for (uint16_t i = 0; i < 5; ++i) {
    if (strcmp(p, names[i]) == 0) {
      *code = i;
      return true;
    }
  }
  fprintf(stderr, "zubhost: --parity takes none, odd, even, mark or space (not \"%s\")\n", p);
  return false;
}

// One option with its value; false (message printed) for a mistake.
bool Option(const char *o, const char *v) {
  HostSettings &s = host.settings;
  long n;
  if (strcmp(o, "--port") == 0) {
    if (strlen(v) >= sizeof s.port) {
      fprintf(stderr,
              "zubhost: --port takes a device name of at most %zu characters (not \"%s\")\n",
              sizeof s.port - 1, v);
      return false;
    }
    snprintf(s.port, sizeof s.port, "%s", v);
  } else if (strcmp(o, "--map") == 0) {
    char copy[512];
    snprintf(copy, sizeof copy, "%s", v);
    char *eq = strchr(copy, '=');
    if (!eq) {
      fprintf(stderr, "zubhost: --map takes NAME=PATH, such as COM5=/dev/pts/3 (not \"%s\")\n", v);
      return false;
    }
    *eq = 0;
    MapDevice(copy, eq + 1);
  } else if (strcmp(o, "--baud") == 0) {
    if (!ParseNumber("--baud", v, 110, 65535, &n)) return false;
    s.line.baudRate = static_cast<uint16_t>(n);
  } else if (strcmp(o, "--data") == 0) {
    if (!ParseNumber("--data", v, 5, 8, &n)) return false;
    s.line.dataBits = static_cast<uint16_t>(n);
  } else if (strcmp(o, "--stop") == 0) {
    if (!ParseNumber("--stop (0 one, 1 one and a half, 2 two)", v, 0, 2, &n)) return false;
    s.line.stopBits = static_cast<uint16_t>(n);
  } else if (strcmp(o, "--parity") == 0) {
    return ParseParity(v, &s.line.parity);
  } else if (strcmp(o, "--timeout") == 0) {
    if (!ParseNumber("--timeout", v, 0, 100000, &n)) return false;
    s.timeout = static_cast<uint32_t>(n);
  } else if (strcmp(o, "--log-file") == 0) {
    host.logFile = fopen(v, "a");
    if (!host.logFile) {
      fprintf(stderr, "zubhost: --log-file cannot open \"%s\" for writing\n", v);
      return false;
    }
  } else {
    fprintf(stderr, "zubhost: unknown option %s\n", o);
    Usage(stderr);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  int i = 1;
  bool version = false;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    const char *o = argv[i];
    if (strcmp(o, "--log") == 0) {
      host.showLog = true;
    } else if (strcmp(o, "--decode") == 0) {
      host.decode = true;
    } else if (strcmp(o, "--version") == 0) {
      version = true;
    } else if (strcmp(o, "--help") == 0) {
      Usage(stdout);
      return 0;
    } else if (i + 1 >= argc) {
      fprintf(stderr, "zubhost: %s needs a value\n", o);
      return 2;
    } else if (!Option(o, argv[++i])) {
      return 2;
    }
  }
  if (i >= argc && !version) {
    Usage(stderr);
    return 2;
  }
  // Check the whole command line before the first exchange.
  bool driver = version;
  for (int k = i; k < argc;) {
    const Command *c = Find(argv[k]);
    if (!c) {
      fprintf(stderr, "zubhost: unknown command \"%s\"\n", argv[k]);
      Usage(stderr);
      return 2;
    }
    int n = c->arguments < 0 ? argc - k - 1 : c->arguments;
    if (k + 1 + n > argc) {
      fprintf(stderr, "zubhost: %s takes %d argument%s: %s\n", c->name, n, n == 1 ? "" : "s",
              c->usage);
      return 2;
    }
    driver = driver || c->needsDriver;
    k += 1 + n;
  }
  if (driver) {
    host.zub = LoadDriver();
    if (!host.zub) return 3;
    SetLogSink(OnDriverLog);
  }
  if (version) VersionCommand(nullptr);

  int failures = 0;
  int32_t usageError = 0;
  while (i < argc) {
    const Command *c = Find(argv[i]);
    int n = c->arguments < 0 ? argc - i - 1 : c->arguments;
    int32_t result = c->run(argv + i + 1);
    i += 1 + n;
    if (result == kUsageError) {
      usageError = 1;
      break;
    }
    if (result != 0) failures++;
    fflush(stdout);
  }
  if (host.channelOpen) Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  if (host.logFile) fclose(host.logFile);
  return usageError ? 2 : failures ? 1 : 0;
}
