// plcsim's command line: the same line options as zubhost, and a message
// naming every mistake with what is accepted.
#include <stdlib.h>
#include <string.h>

#include "sim_tool.h"

namespace {

bool Number(const char *option, const char *text, long low, long high, long *out) {
  char *end = nullptr;
  long v = *text ? strtol(text, &end, 0) : 0;
  if (!*text || *end || v < low || v > high) {
    fprintf(stderr, "plcsim: %s takes a whole number from %ld to %ld (not \"%s\")\n", option, low,
            high, text);
    return false;
  }
  *out = v;
  return true;
}

bool Station(const char *text, int *station) {
  char *end = nullptr;
  long v = strtol(text, &end, 16);
  if (!*text || *end || v < 1 || v > 255) {
    fprintf(stderr, "plcsim: --station takes a PLC number in hexadecimal, 01 to FF (not \"%s\")\n",
            text);
    return false;
  }
  *station = static_cast<int>(v);
  return true;
}

bool Fault(Sim *sim, const char *value) {
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
  if (colon && !Number("--fault NAME:COUNT", colon + 1, 1, 1000000, &count)) return false;
  SimSetFault(sim, kind, static_cast<int>(count));
  return true;
}

bool Parity(const char *text, unsigned *parity) {
  const char *names[] = {"none", "odd", "even", "mark", "space"};
  for (unsigned i = 0; i < 5; ++i) {
    if (strcmp(text, names[i]) == 0) {
      *parity = i;
      return true;
    }
  }
  fprintf(stderr, "plcsim: --parity takes none, odd, even, mark or space (not \"%s\")\n", text);
  return false;
}

}  // namespace

void SimUsage(FILE *to, bool windows) {
  fprintf(
      to,
      "usage: plcsim%s [--station HEX]... [--load FILE] [--fault NAME[:COUNT]]...\n"
      "       [--delay MS] [--baud N] [--data N] [--stop 0|1|2] [--parity P] [--echo] [--quiet]\n",
      windows ? ".exe --port COMn" : "");
  if (windows)
    fprintf(to, "control commands on standard input, one a line:\n");
  else
    fprintf(to,
            "       [--link PATH | --wine-com PREFIX:COMn | --tty PATH] [--control FIFO]\n"
            "control commands on the FIFO, one a line:\n");
  fprintf(to,
          "  fault NAME COUNT, clear, delay MS, set ADDRESS VALUE, dump ADDRESS COUNT,\n"
          "  poke STATION OCTAL VALUE, stats, quit   (ADDRESS: PLC and octal, as 0140000)\n"
          "faults:");
  for (int k = 1; k < kFaultKinds; ++k) fprintf(to, " %s", SimFaultName(k));
  fprintf(to, "\n");
}

bool SimParseOptions(int argc, char **argv, Sim *sim, SimOptions *o, bool windows) {
  bool anyStation = false;
  const char *load = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    long n;
    if (strcmp(arg, "--echo") == 0) {
      o->echo = true;
      continue;
    }
    if (strcmp(arg, "--quiet") == 0) {
      o->quiet = true;
      continue;
    }
    if (strcmp(arg, "--help") == 0) {
      SimUsage(stdout, windows);
      exit(0);
    }
    // Options of the other platform are named as such, not as unknown.
    const char *const linuxOnly[] = {"--link", "--tty", "--control", "--wine-com"};
    bool forLinux = false;
    for (const char *l : linuxOnly) forLinux = forLinux || strcmp(arg, l) == 0;
    bool known = forLinux || strcmp(arg, "--port") == 0;
    const char *const common[] = {"--station", "--load", "--fault", "--delay",
                                  "--baud",    "--data", "--stop",  "--parity"};
    for (const char *c : common) known = known || strcmp(arg, c) == 0;
    if (!known) {
      fprintf(stderr, "plcsim: unknown option %s\n", arg);
      SimUsage(stderr, windows);
      return false;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "plcsim: %s needs a value\n", arg);
      return false;
    }
    const char *v = argv[++i];
    if (windows && forLinux) {
      fprintf(stderr,
              "plcsim: %s is for the Linux plcsim; plcsim.exe takes --port COMn and its "
              "commands on standard input\n",
              arg);
      return false;
    }
    if (strcmp(arg, "--port") == 0) {
      if (!windows) {
        fprintf(stderr,
                "plcsim: --port is for plcsim.exe on Windows; here use --link, --tty or "
                "--wine-com\n");
        return false;
      }
      o->port = v;
    } else if (strcmp(arg, "--link") == 0) {
      o->link = v;
    } else if (strcmp(arg, "--tty") == 0) {
      o->tty = v;
    } else if (strcmp(arg, "--control") == 0) {
      o->control = v;
    } else if (strcmp(arg, "--wine-com") == 0) {
      if (!strrchr(v, ':')) {
        fprintf(stderr, "plcsim: --wine-com takes PREFIX:COMn, such as ~/.wine:COM7 (not \"%s\")\n",
                v);
        return false;
      }
      o->wineCom = v;
    } else if (strcmp(arg, "--station") == 0) {
      int station;
      if (!Station(v, &station)) return false;
      SimAddStation(sim, station);
      anyStation = true;
    } else if (strcmp(arg, "--load") == 0) {
      load = v;
    } else if (strcmp(arg, "--fault") == 0) {
      if (!Fault(sim, v)) return false;
    } else if (strcmp(arg, "--delay") == 0) {
      if (!Number("--delay", v, 0, 60000, &n)) return false;
      SimSetDelay(sim, static_cast<uint32_t>(n));
    } else if (strcmp(arg, "--baud") == 0) {
      if (!Number("--baud", v, 110, 1000000, &n)) return false;
      o->baud = static_cast<unsigned>(n);
    } else if (strcmp(arg, "--data") == 0) {
      if (!Number("--data", v, 5, 8, &n)) return false;
      o->dataBits = static_cast<unsigned>(n);
    } else if (strcmp(arg, "--stop") == 0) {
      if (!Number("--stop (0 one, 1 one and a half, 2 two)", v, 0, 2, &n)) return false;
      o->stopBits = static_cast<unsigned>(n);
    } else if (strcmp(arg, "--parity") == 0) {
      if (!Parity(v, &o->parity)) return false;
    }
  }
  if (windows && !o->port) {
    fprintf(stderr,
            "plcsim: plcsim.exe needs --port COMn, the port the driver's line comes in on\n");
    return false;
  }
  if (load && SimLoadFile(sim, load) < 0) {
    fprintf(stderr, "plcsim: --load cannot read \"%s\"\n", load);
    return false;
  }
  if (!anyStation && !load) SimAddStation(sim, 1);
  return true;
}
