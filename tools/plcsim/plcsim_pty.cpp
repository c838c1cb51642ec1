// plcsim: plays one or more controllers on a pseudo-terminal (or a given
// tty) so that the driver can do its whole job without hardware. It prints
// "plcsim: pty PATH" once the line is ready, and takes control commands on
// its FIFO, one a line (plcsim --help lists the options).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "sim_tool.h"

namespace {

volatile sig_atomic_t stopping;
// What a wait needs to take control commands while it lasts.
Sim *theSim;
int controlFd = -1;
bool quitAsked;
// The control line read so far: a read of the FIFO may end inside one.
struct ControlLine {
  char text[kControlLine];
  size_t length;
  bool tooLong;
} control;

void OnSignal(int) { stopping = 1; }

void WriteAll(void *line, const uint8_t *b, size_t n) {
  int fd = *static_cast<int *>(line);
  while (n > 0) {
    ssize_t w = write(fd, b, n);
    if (w < 0 && errno != EINTR && errno != EAGAIN) return;
    if (w < 0) {
      usleep(100);
      continue;
    }
    b += w;
    n -= static_cast<size_t>(w);
  }
}

struct Line {
  int fd = -1;
  int keepSlave = -1;  // held open so the line never hangs up between opens
  char path[256] = {};
  int control = -1;
};

// Whether parity set on the line stays set: a pty takes none (glibc
// refuses it, or it silently drops away). The line is left as it was.
bool CarriesParity(int fd) {
  termios was, t;
  if (tcgetattr(fd, &was) != 0) return false;
  t = was;
  t.c_cflag |= PARENB;
  bool kept = tcsetattr(fd, TCSANOW, &t) == 0 && tcgetattr(fd, &t) == 0 && (t.c_cflag & PARENB);
  tcsetattr(fd, TCSANOW, &was);
  return kept;
}

bool OpenLine(const SimOptions &o, Line *l) {
  if (o.tty) {
    l->fd = open(o.tty, O_RDWR | O_NOCTTY);
    snprintf(l->path, sizeof l->path, "%s", o.tty);
  } else if (openpty(&l->fd, &l->keepSlave, l->path, nullptr, nullptr) != 0) {
    l->fd = -1;
  }
  if (l->fd < 0) {
    Mistake("cannot open the line %s: %s", o.tty ? o.tty : "(new pty)", strerror(errno));
    return false;
  }
  // A file or /dev/null is always readable and never says anything: the
  // simulator would spin on it.
  if (!isatty(l->fd)) {
    Mistake("--tty \"%s\" is not a terminal (a serial port or a pty)", o.tty);
    return false;
  }
  termios t;
  int rawFd = l->keepSlave >= 0 ? l->keepSlave : l->fd;
  if (tcgetattr(rawFd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(rawFd, TCSANOW, &t);
  }
  if (o.parityGiven && o.parity != 0 && !CarriesParity(rawFd))
    fprintf(stderr,
            "plcsim: warning: %s carries no parity (a pty): --parity %s is not on the line; the "
            "driver's side must use --parity none\n",
            l->path, kParityNames[o.parity]);
  return true;
}

// The control FIFO, made when it is not there.
bool OpenControl(const SimOptions &o, Line *l) {
  if (access(o.control, F_OK) != 0 && mkfifo(o.control, 0600) != 0) {
    Mistake("--control cannot make the FIFO \"%s\": %s", o.control, strerror(errno));
    return false;
  }
  struct stat st;
  if (stat(o.control, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    Mistake("--control \"%s\" is not a FIFO (give a new name, and plcsim makes one)", o.control);
    return false;
  }
  // Opened read-write so the FIFO never reports end of file between writers.
  l->control = open(o.control, O_RDWR | O_NONBLOCK);
  if (l->control < 0) {
    Mistake("--control cannot open \"%s\": %s", o.control, strerror(errno));
    return false;
  }
  return true;
}

// The names the line is reached by, and the control FIFO.
bool MakeNames(const SimOptions &o, Line *l) {
  if (o.control && !OpenControl(o, l)) return false;
  if (o.link) unlink(o.link);
  if (o.link && symlink(l->path, o.link) != 0) {
    Mistake("--link cannot make \"%s\": %s", o.link, strerror(errno));
    return false;
  }
  return true;
}

// Whole lines from the control FIFO, each handed to the simulator. A line
// too long for the buffer is refused whole: its tail is no command.
void ReadControl() {
  ControlLine &c = control;
  char buf[256];
  ssize_t n = controlFd >= 0 ? read(controlFd, buf, sizeof buf) : 0;
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] != '\n') {
      if (c.length + 1 < sizeof c.text) {
        c.text[c.length] = buf[i];
        c.length += 1;
      } else {
        c.tooLong = true;
      }
      continue;
    }
    c.text[c.length] = 0;
    if (c.tooLong)
      SimControlTooLong(stdout);
    else
      SimControl(theSim, c.text, &quitAsked, stdout);
    c.length = 0;
    c.tooLong = false;
  }
}

// The speed the master set on the line, in baud; 0 when the table does not know it.
unsigned LineSpeed(const Line *l) {
  static const struct {
    speed_t code;
    unsigned baud;
  } kSpeeds[] = {{B300, 300},     {B600, 600},      {B1200, 1200},   {B2400, 2400},
                 {B4800, 4800},   {B9600, 9600},    {B19200, 19200}, {B38400, 38400},
                 {B57600, 57600}, {B115200, 115200}};
  termios t;
  if (tcgetattr(l->keepSlave >= 0 ? l->keepSlave : l->fd, &t) != 0) return 0;
  for (const auto &s : kSpeeds)
    if (s.code == cfgetispeed(&t)) return s.baud;
  return 0;
}

// With --baud, bytes the master sends at another speed arrive as noise, as
// on a real line: nothing in them is understood.
bool HeardAsNoise(const SimOptions &o, const Line *l, ssize_t n) {
  unsigned speed = o.baud && n > 0 ? LineSpeed(l) : 0;
  if (!speed || speed == o.baud) return false;
  if (!o.quiet)
    fprintf(stderr, "plcsim: %zd bytes sent at %u baud, noise at %u\n", n, speed, o.baud);
  return true;
}

// Returns 1 after a hang-up of the line, 0 otherwise.
int Serve(Sim *sim, const SimOptions &o, Line *l) {
  SimPacer pacer;
  SimPacerInit(&pacer, &o);
  while (!stopping && !quitAsked) {
    pollfd p[2] = {{l->control, POLLIN, 0}, {l->fd, POLLIN, 0}};
    int r = poll(p, 2, 200);
    if (r < 0 && errno != EINTR) break;
    // Commands first: a test that sets a fault and then sends a frame must
    // find the fault in place.
    if (p[0].revents & POLLIN) ReadControl();
    if (!(p[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    uint8_t in[512];
    ssize_t n = read(l->fd, in, sizeof in);
    // The far end of a given tty closed: nothing more will come on it.
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
      fprintf(stderr, "plcsim: the line %s hung up\n", l->path);
      return 1;
    }
    // A command written before these bytes is in the FIFO by now, even when
    // it was not yet at the poll: it applies to them.
    ReadControl();
    if (n > 0 && !HeardAsNoise(o, l, n))
      SimRespond(sim, &pacer, o.echo, in, static_cast<size_t>(n), WriteAll, &l->fd);
  }
  return 0;
}

}  // namespace

uint64_t SimNowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

bool SimWaitUntilNs(uint64_t ns) {
  for (;;) {
    if (stopping || quitAsked) return false;
    uint64_t now = SimNowNs();
    if (now >= ns) return true;
    uint64_t left = ns - now;
    if (left < 2000000) {
      // Pacing's short waits: to the microsecond.
      timespec ts;
      ts.tv_sec = static_cast<time_t>(ns / 1000000000u);
      ts.tv_nsec = static_cast<long>(ns % 1000000000u);
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
      continue;
    }
    // Long ones listen to the control FIFO, so that quit ends them.
    pollfd p = {controlFd, POLLIN, 0};
    int ms = left > 101000000 ? 100 : static_cast<int>(left / 1000000) - 1;
    if (poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) ReadControl();
  }
}

int main(int argc, char **argv) {
  SimOptions o;
  Sim *sim = SimCreate();
  if (!SimParseOptions(argc, argv, sim, &o, false)) {
    if (o.help) return 0;
    return 2;
  }
  if (!o.quiet) SimSetLog(sim, stderr);
  Line line;
  if (!OpenLine(o, &line) || !MakeNames(o, &line)) return 1;
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  signal(SIGPIPE, SIG_IGN);
  theSim = sim;
  controlFd = line.control;
  printf("plcsim: pty %s\n", line.path);
  fflush(stdout);
  int hungUp = Serve(sim, o, &line);
  SimPrintStats(sim, stdout);
  if (o.link) unlink(o.link);
  SimDestroy(sim);
  return hungUp;
}
