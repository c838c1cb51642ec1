// plcsim: plays one or more controllers on a pseudo-terminal (or a given
// tty) so that the driver can do its whole job without hardware.
//
//   plcsim [--station HEX]... [--load FILE] [--link PATH] [--tty PATH]
//          [--fault NAME[:COUNT]]... [--delay MS] [--baud N] [--control FIFO]
//          [--wine-com PREFIX:COMn] [--echo] [--quiet]
//
// It prints "plcsim: pty PATH" once the line is ready, and takes control
// commands on the FIFO, one a line.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "sim_tool.h"

namespace {

volatile sig_atomic_t stopping;

void OnSignal(int) { stopping = 1; }

void WriteAll(void *line, const uint8_t *b, size_t n) {
  int fd = *static_cast<int *>(line);
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

// Names the line as a COM port of a Wine prefix: Wine looks COMn up in the
// prefix's dosdevices folder.
bool LinkWineCom(const char *spec, const char *path, char *wineLink, size_t size) {
  char prefix[400];
  snprintf(prefix, sizeof prefix, "%s", spec);
  char *colon = strrchr(prefix, ':');
  *colon = 0;
  char com[16];
  snprintf(com, sizeof com, "%s", colon + 1);
  for (char *c = com; *c; ++c) *c = static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c + 32 : *c);
  snprintf(wineLink, size, "%s/dosdevices/%s", prefix, com);
  unlink(wineLink);
  return symlink(path, wineLink) == 0;
}

}  // namespace

uint64_t SimNowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void SimSleepUntilNs(uint64_t ns) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ns / 1000000000u);
  ts.tv_nsec = static_cast<long>(ns % 1000000000u);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

int main(int argc, char **argv) {
  SimOptions o;
  Sim *sim = SimCreate();
  if (!SimParseOptions(argc, argv, sim, &o, false)) return 2;
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
    fprintf(stderr, "plcsim: cannot open the line %s: %s\n", o.tty ? o.tty : "(new pty)",
            strerror(errno));
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
      fprintf(stderr, "plcsim: --link cannot make \"%s\": %s\n", o.link, strerror(errno));
      return 1;
    }
  }
  char wineLink[512] = {};
  if (o.wineCom && !LinkWineCom(o.wineCom, path, wineLink, sizeof wineLink)) {
    fprintf(stderr, "plcsim: --wine-com cannot make \"%s\": %s\n", wineLink, strerror(errno));
    return 1;
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

  SimPacer pacer;
  SimPacerInit(&pacer, &o);
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
          SimControl(sim, controlLine, &quit, stdout);
          controlLen = 0;
        } else {
          controlLine[controlLen++] = buf[i];
        }
      }
    }
    if (!(p[1].revents & POLLIN)) continue;
    uint8_t in[512];
    ssize_t n = read(line, in, sizeof in);
    if (n > 0) SimRespond(sim, &pacer, o.echo, in, static_cast<size_t>(n), WriteAll, &line);
  }
  SimPrintStats(sim, stdout);
  if (o.link) unlink(o.link);
  if (wineLink[0]) unlink(wineLink);
  SimDestroy(sim);
  return 0;
}
