// plcsim: plays one or more controllers on a pseudo-terminal (or a given
// tty) so that the driver can do its whole job without hardware.
//
//   plcsim [--station HEX]... [--load FILE] [--link PATH] [--tty PATH]
//          [--fault NAME[:COUNT]]... [--delay MS] [--baud N] [--control FIFO]
//          [--wine-com PREFIX:COMn] [--echo] [--quiet]
//
// It prints "plcsim: pty PATH" once the line is ready. Commands on the
// control FIFO, one a line: "fault NAME COUNT", "clear", "delay MS",
// "poke STATION OCTAL VALUE", "dump STATION PATH", "stats", "quit".
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "sim_core.h"

namespace {

volatile sig_atomic_t stopping;

void OnSignal(int) { stopping = 1; }

uint64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepUntil(uint64_t ns) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ns / 1000000000u);
  ts.tv_nsec = static_cast<long>(ns % 1000000000u);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

struct Options {
  const char *link = nullptr;
  const char *tty = nullptr;
  const char *control = nullptr;
  const char *load = nullptr;
  const char *wineCom = nullptr;
  unsigned baud = 0;
  bool echo = false;
  bool quiet = false;
};

void Usage() {
  fprintf(stderr,
          "usage: plcsim [--station HEX]... [--load FILE] [--link PATH] [--tty PATH]\n"
          "              [--fault NAME[:COUNT]]... [--delay MS] [--baud N] [--control FIFO]\n"
          "              [--wine-com PREFIX:COMn] [--echo] [--quiet]\n"
          "faults:");
  for (int k = 1; k < kFaultKinds; ++k) fprintf(stderr, " %s", SimFaultName(k));
  fprintf(stderr, "\n");
}

void WriteAll(int fd, const uint8_t *b, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, b, n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        usleep(100);
        continue;
      }
      return;
    }
    b += w;
    n -= static_cast<size_t>(w);
  }
}

// Sends at the line speed when pacing: one character every 11 bit times
// (8 data bits, parity, one stop bit, and the start bit's share folded in).
void Send(int fd, const uint8_t *b, size_t n, uint64_t byteNs) {
  if (!byteNs) {
    WriteAll(fd, b, n);
    return;
  }
  uint64_t next = NowNs();
  for (size_t i = 0; i < n; ++i) {
    next += byteNs;
    WriteAll(fd, b + i, 1);
    SleepUntil(next);
  }
}

void Control(Sim *sim, char *line, bool *quit) {
  char word[32] = {}, a[256] = {}, b[64] = {}, c[64] = {};
  int n = sscanf(line, "%31s %255s %63s %63s", word, a, b, c);
  if (n < 1) return;
  if (strcmp(word, "fault") == 0 && n >= 2) {
    SimSetFault(sim, SimFaultByName(a), n >= 3 ? atoi(b) : -1);
  } else if (strcmp(word, "clear") == 0) {
    SimClearFaults(sim);
  } else if (strcmp(word, "delay") == 0 && n >= 2) {
    SimSetDelay(sim, static_cast<uint32_t>(atoi(a)));
  } else if (strcmp(word, "poke") == 0 && n >= 4) {
    int station = static_cast<int>(strtol(a, nullptr, 16));
    long octal = strtol(b, nullptr, 8);
    SimAddStation(sim, station);
    if (uint16_t *m = SimMemory(sim, station))
      if (octal >= 0 && octal < kSimWords) m[octal] = static_cast<uint16_t>(strtol(c, nullptr, 0));
  } else if (strcmp(word, "dump") == 0 && n >= 3) {
    uint16_t *m = SimMemory(sim, static_cast<int>(strtol(a, nullptr, 16)));
    if (FILE *f = fopen(b, "wb")) {
      if (m) fwrite(m, sizeof(uint16_t), kSimWords, f);
      fclose(f);
    }
  } else if (strcmp(word, "stats") == 0) {
    const SimStats *s = SimGetStats(sim);
    printf("plcsim: stats enquiries=%u reads=%u writes=%u completed=%u faults=%u bad=%u\n",
           s->enquiries, s->reads, s->writes, s->completed, s->faults, s->badFrames);
    fflush(stdout);
  } else if (strcmp(word, "quit") == 0) {
    *quit = true;
  }
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  Sim *sim = SimCreate();
  bool anyStation = false;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (strcmp(arg, "--echo") == 0) {
      o.echo = true;
    } else if (strcmp(arg, "--quiet") == 0) {
      o.quiet = true;
    } else if (!value) {
      Usage();
      return 2;
    } else if (strcmp(arg, "--station") == 0) {
      SimAddStation(sim, static_cast<int>(strtol(value, nullptr, 16)));
      anyStation = true;
      ++i;
    } else if (strcmp(arg, "--load") == 0) {
      o.load = value;
      ++i;
    } else if (strcmp(arg, "--link") == 0) {
      o.link = value;
      ++i;
    } else if (strcmp(arg, "--wine-com") == 0) {
      o.wineCom = value;
      ++i;
    } else if (strcmp(arg, "--tty") == 0) {
      o.tty = value;
      ++i;
    } else if (strcmp(arg, "--control") == 0) {
      o.control = value;
      ++i;
    } else if (strcmp(arg, "--baud") == 0) {
      o.baud = static_cast<unsigned>(atoi(value));
      ++i;
    } else if (strcmp(arg, "--delay") == 0) {
      SimSetDelay(sim, static_cast<uint32_t>(atoi(value)));
      ++i;
    } else if (strcmp(arg, "--fault") == 0) {
      char name[64];
      snprintf(name, sizeof name, "%s", value);
      int count = -1;
      if (char *colon = strchr(name, ':')) {
        *colon = 0;
        count = atoi(colon + 1);
      }
      int kind = SimFaultByName(name);
      if (kind == kFaultNone) {
        Usage();
        return 2;
      }
      SimSetFault(sim, kind, count);
      ++i;
    } else {
      Usage();
      return 2;
    }
  }
  if (o.load && SimLoadFile(sim, o.load) < 0) {
    fprintf(stderr, "plcsim: cannot read %s\n", o.load);
    return 2;
  }
  if (!anyStation && !o.load) SimAddStation(sim, 1);
  if (!o.quiet) SimSetLog(sim, stderr);

  int line = -1, keepSlave = -1;
  char path[256] = {};
  if (o.tty) {
    line = open(o.tty, O_RDWR | O_NOCTTY);
    snprintf(path, sizeof path, "%s", o.tty);
  } else {
    // Hold the slave side open too, so the line never hangs up between the
    // driver's opens.
    if (openpty(&line, &keepSlave, path, nullptr, nullptr) != 0) line = -1;
  }
  if (line < 0) {
    perror("plcsim: line");
    return 1;
  }
  termios t;
  int rawFd = keepSlave >= 0 ? keepSlave : line;
  if (tcgetattr(rawFd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(rawFd, TCSANOW, &t);
  }
  if (o.link) {
    unlink(o.link);
    if (symlink(path, o.link) != 0) {
      perror("plcsim: link");
      return 1;
    }
  }
  // Names the line as a COM port of a Wine prefix: Wine looks COMn up in
  // the prefix's dosdevices folder.
  char wineLink[512] = {};
  if (o.wineCom) {
    char prefix[400];
    snprintf(prefix, sizeof prefix, "%s", o.wineCom);
    char *colon = strrchr(prefix, ':');
    if (!colon) {
      Usage();
      return 2;
    }
    *colon = 0;
    char com[16];
    snprintf(com, sizeof com, "%s", colon + 1);
    for (char *c = com; *c; ++c) *c = static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c + 32 : *c);
    snprintf(wineLink, sizeof wineLink, "%s/dosdevices/%s", prefix, com);
    unlink(wineLink);
    if (symlink(path, wineLink) != 0) {
      perror("plcsim: wine-com");
      return 1;
    }
  }
  int control = -1;
  if (o.control) {
    if (access(o.control, F_OK) != 0) mkfifo(o.control, 0600);
    // Opened read-write so the FIFO never reports end of file between
    // writers.
    control = open(o.control, O_RDWR | O_NONBLOCK);
  }
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  signal(SIGPIPE, SIG_IGN);
  printf("plcsim: pty %s\n", path);
  fflush(stdout);

  uint64_t byteNs = o.baud ? 11ull * 1000000000ull / o.baud : 0;
  uint64_t rxFreeAt = 0;
  char controlLine[512];
  size_t controlLen = 0;
  bool quit = false;
  while (!stopping && !quit) {
    pollfd p[2] = {{control, POLLIN, 0}, {line, POLLIN, 0}};
    int r = poll(p, 2, 200);
    if (r < 0 && errno != EINTR) break;
    // Commands first: a test that sets a fault and then sends a frame must
    // find the fault in place.
    if (control >= 0 && (p[0].revents & POLLIN)) {
      char buf[256];
      ssize_t n = read(control, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] == '\n' || controlLen + 1 >= sizeof controlLine) {
          controlLine[controlLen] = 0;
          Control(sim, controlLine, &quit);
          controlLen = 0;
        } else {
          controlLine[controlLen++] = buf[i];
        }
      }
    }
    if (!(p[1].revents & POLLIN)) continue;
    uint8_t in[512];
    ssize_t n = read(line, in, sizeof in);
    if (n <= 0) continue;
    uint64_t now = NowNs();
    if (o.echo) {
      Send(line, in, static_cast<size_t>(n), byteNs);
      continue;
    }
    // A frame is acted on only once its last byte would have arrived.
    if (byteNs) {
      rxFreeAt = (rxFreeAt > now ? rxFreeAt : now) + static_cast<uint64_t>(n) * byteNs;
    }
    SimOutput out;
    out.len = 0;
    out.delayMs = 0;
    SimFeed(sim, in, static_cast<size_t>(n), &out);
    if (!out.len) continue;
    if (byteNs) SleepUntil(rxFreeAt);
    if (out.delayMs) usleep(out.delayMs * 1000);
    Send(line, out.bytes, out.len, byteNs);
  }
  const SimStats *s = SimGetStats(sim);
  printf("plcsim: stats enquiries=%u reads=%u writes=%u completed=%u faults=%u bad=%u\n",
         s->enquiries, s->reads, s->writes, s->completed, s->faults, s->badFrames);
  if (o.link) unlink(o.link);
  if (wineLink[0]) unlink(wineLink);
  SimDestroy(sim);
  return 0;
}
